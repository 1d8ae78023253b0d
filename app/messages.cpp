#include "app/messages.h"

#include "core/errors.h"

#include <QApplication>
#include <QMessageBox>

namespace Messages {

namespace {

Messages::Sink &sink()
{
    static Messages::Sink instance;
    return instance;
}

const QString applicationTitle = QStringLiteral("NV Zalvento");

void box(Kind kind, const QString &text)
{
    if (sink()) {
        sink()(kind, text);
        return;
    }
    QMessageBox box(kind == Kind::Error ? QMessageBox::Critical : QMessageBox::NoIcon, applicationTitle, text,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

} // namespace

void show(const QString &text)
{
    box(Kind::Information, text);
}

QString withFullStop(const QString &text)
{
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        return text + QLatin1Char('.');
    return text;
}

void reportError(const QString &text)
{
    box(Kind::Error, withFullStop(text));
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

void setSink(Sink newSink)
{
    sink() = std::move(newSink);
}

} // namespace Messages
