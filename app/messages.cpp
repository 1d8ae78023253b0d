#include "app/messages.h"

#include "core/errors.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

namespace Messages {

namespace {

const QString applicationTitle = QStringLiteral("NV Zalvento");

int boxesDoNotWait = 0;

void showBox(Kind kind, const QString &text, const std::function<void()> &closed)
{
    const QMessageBox::Icon icon = kind == Kind::Error     ? QMessageBox::Critical
                                   : kind == Kind::Warning ? QMessageBox::Warning
                                                           : QMessageBox::NoIcon;
    auto *box = new QMessageBox(icon, applicationTitle, text, QMessageBox::Ok, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    // A box taken away with its window is closed as well.
    QObject::connect(box, &QDialog::finished, box, closed);
    QObject::connect(box, &QObject::destroyed, closed);
    if (boxesDoNotWait > 0)
        box->open();
    else
        box->exec();
}

void writeLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

void Router::deliver(Kind kind, const QString &text)
{
    const bool repeated = m_last && m_last->first == kind && m_last->second == text;
    m_last.emplace(kind, text);
    if (m_mode == Mode::Unattended) {
        if (!repeated)
            m_outlets.line(journalLine(kind, text));
        return;
    }
    if (repeated || m_openBox != 0) {
        if (m_outlets.status)
            m_outlets.status(text);
        return;
    }
    // Each box closes only itself: a late signal of an earlier box must not free the place of a later one.
    const int box = ++m_boxesShown;
    m_openBox = box;
    const auto closed = [this, box] {
        if (m_openBox == box)
            m_openBox = 0;
    };
    try {
        m_outlets.box(kind, text, closed);
    } catch (...) {
        closed();
        throw;
    }
}

QByteArray Router::journalLine(Kind kind, const QString &text)
{
    QString line = text;
    for (QChar &c : line) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    }
    return (kind == Kind::Warning ? "<4>" : "<3>") + line.toUtf8() + '\n';
}

Router &router()
{
    static Router instance({showBox, writeLine, {}});
    return instance;
}

void setMode(Mode mode)
{
    router().setMode(mode);
}

Mode mode()
{
    return router().mode();
}

void setStatusOutlet(std::function<void(const QString &)> status)
{
    router().outlets().status = std::move(status);
}

void succeeded()
{
    router().succeeded();
}

void log(Kind kind, const QString &text)
{
    router().outlets().line(Router::journalLine(kind, text));
}

void show(const QString &text)
{
    router().deliver(Kind::Information, text);
}

void warn(const QString &text)
{
    router().deliver(Kind::Warning, text);
}

QString withFullStop(const QString &text)
{
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        return text + QLatin1Char('.');
    return text;
}

void reportError(const QString &text)
{
    router().deliver(Kind::Error, withFullStop(text));
}

void reportError(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const ZalventoError *>(&error))
        reportError(own->text());
    else
        reportError(QString::fromLocal8Bit(error.what()));
}

void guarded(const std::function<void()> &work)
{
    try {
        work();
    } catch (const std::exception &error) {
        reportError(error);
    }
}

BoxesDoNotWait::BoxesDoNotWait()
{
    ++boxesDoNotWait;
}

BoxesDoNotWait::~BoxesDoNotWait()
{
    --boxesDoNotWait;
}

void setSink(Sink sink)
{
    if (sink) {
        router().outlets().box = [sink = std::move(sink)](Kind kind, const QString &text,
                                                          const std::function<void()> &closed) {
            sink(kind, text);
            closed();
        };
    } else {
        router().outlets().box = showBox;
    }
    router().succeeded();
}

} // namespace Messages
