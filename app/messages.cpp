#include "app/messages.h"

#include "core/errors.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

namespace Messages {

namespace {

const QString applicationTitle = QStringLiteral("NV Zalvento");

void showBox(Kind kind, const QString &text)
{
    const QMessageBox::Icon icon = kind == Kind::Error     ? QMessageBox::Critical
                                   : kind == Kind::Warning ? QMessageBox::Warning
                                                           : QMessageBox::NoIcon;
    QMessageBox box(icon, applicationTitle, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
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
    if (repeated || m_boxOpen) {
        if (m_outlets.status)
            m_outlets.status(text);
        return;
    }
    // Cleared however the box ends, an exception out of its event loop included.
    struct OpenBox
    {
        bool &open;
        explicit OpenBox(bool &flag) : open(flag) { open = true; }
        ~OpenBox() { open = false; }
    } openBox(m_boxOpen);
    m_outlets.box(kind, text);
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

void setSink(Sink sink)
{
    router().outlets().box = sink ? std::move(sink) : Sink(showBox);
    router().succeeded();
}

} // namespace Messages
