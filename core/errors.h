#pragma once

#include <QString>
#include <exception>

// The one exception type of the program's own failures. Handlers catch it where the work started
// and report its text in the user's words; the default error report shows it when nobody does.
class ZalventoError : public std::exception
{
public:
    explicit ZalventoError(QString text) : m_text(std::move(text)), m_utf8(m_text.toUtf8()) {}

    const QString &text() const noexcept { return m_text; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

// A text that is no number: "'%s' ist kein gültiger Gleitkommawert" and its integer sibling.
class ConversionError : public ZalventoError
{
public:
    using ZalventoError::ZalventoError;
};

// A division by zero, an invalid operation or an overflow of the calculation's arithmetic.
class ArithmeticError : public ZalventoError
{
public:
    using ZalventoError::ZalventoError;
};

// A file that cannot be created, read or written; the text names the file.
class FileError : public ZalventoError
{
public:
    using ZalventoError::ZalventoError;
};
