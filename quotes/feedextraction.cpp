#include "quotes/feedextraction.h"

#include "core/numbertext.h"
#include "quotes/csvtable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <optional>

namespace FeedExtraction {

namespace {

// Unix times above this are milliseconds (10^11 seconds lie in the year 5138), and milliseconds beyond
// 10^14 (the year 5138 again) are no time a quote can carry; QDateTime would take them.
constexpr double largestSeconds = 1e11;
constexpr double largestMilliseconds = 1e14;

// A path as member names: a JSON Pointer (RFC 6901) when it starts with "/", else a dot path.
QStringList pathOf(const QString &path)
{
    if (path.isEmpty())
        return {};
    if (!path.startsWith(QLatin1Char('/')))
        return path.split(QLatin1Char('.'));
    QStringList names = path.mid(1).split(QLatin1Char('/'));
    for (QString &name : names)
        name.replace(QLatin1String("~1"), QLatin1String("/"))
            .replace(QLatin1String("~0"), QLatin1String("~"));
    return names;
}

// Follows member names, and positions in lists, from `value`; undefined where the path leads nowhere.
QJsonValue follow(QJsonValue value, const QStringList &path)
{
    for (const QString &name : path) {
        if (value.isObject()) {
            value = value[name];
        } else if (value.isArray()) {
            bool isPosition = false;
            const int position = name.toInt(&isPosition);
            const QJsonArray list = value.toArray();
            if (!isPosition || position < 0 || position >= list.size())
                return QJsonValue(QJsonValue::Undefined);
            value = list.at(position);
        } else {
            return QJsonValue(QJsonValue::Undefined);
        }
    }
    return value;
}

// Digits grouped by threes with `group` before the decimal separator, the groups taken out; the text as
// it is when it holds no `group`, and nothing when its grouping is not regular.
std::optional<QString> withoutGrouping(const QString &text, QChar group, QChar decimal)
{
    if (!text.contains(group))
        return text;
    qsizetype begin = 0;
    if (begin < text.size() && (text[begin] == QLatin1Char('-') || text[begin] == QLatin1Char('+')))
        ++begin;
    qsizetype end = text.indexOf(decimal, begin);
    if (end < 0)
        end = text.size();
    const QStringList groups = text.mid(begin, end - begin).split(group);
    for (qsizetype i = 0; i < groups.size(); ++i) {
        const QString &digits = groups[i];
        const bool allDigits = std::all_of(
            digits.begin(), digits.end(), [](QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; });
        if (!allDigits || (i == 0 ? digits.isEmpty() || digits.size() > 3 : digits.size() != 3))
            return std::nullopt;
    }
    return text.left(begin) + groups.join(QString()) + text.mid(end);
}

std::optional<double> numberOfValue(const QJsonValue &value, QChar decimal)
{
    if (value.isDouble())
        return value.toDouble();
    if (value.isString())
        return numberOf(value.toString(), decimal);
    return std::nullopt;
}

// A side of a quote that can serve: a number above 0.
std::optional<double> usable(std::optional<double> side)
{
    return side && *side > 0 ? side : std::nullopt;
}

QDateTime fromUnix(double value, bool milliseconds)
{
    if (!std::isfinite(value))
        return {};
    if (!milliseconds && std::fabs(value) > largestSeconds)
        milliseconds = true;
    const double ms = milliseconds ? value : value * 1000;
    if (std::fabs(ms) > largestMilliseconds)
        return {};
    return QDateTime::fromMSecsSinceEpoch(std::llround(ms));
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (H. Hinnant's days_from_civil).
qint64 daysFromCivil(qint64 year, int month, int day)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The common form of feed times, "YYYY-MM-DDTHH:MM:SS[.fff](Z|+HH:MM|-HH:MM|+HHMM|+HH)", read without
// QDateTime's general parser, which costs more than the rest of a large feed together. Nothing for
// any other form (a time without offset is local time: QDateTime reads it).
std::optional<QDateTime> fastIsoTime(QStringView text)
{
    qsizetype at = 0;
    const auto number = [&](int digits, int &value) {
        value = 0;
        for (int i = 0; i < digits; ++i, ++at) {
            if (at >= text.size() || !text[at].isDigit() || text[at].unicode() > u'9')
                return false;
            value = value * 10 + (text[at].unicode() - u'0');
        }
        return true;
    };
    const auto expect = [&](char16_t c) { return at < text.size() && text[at++].unicode() == c; };
    int year, month, day, hour, minute, second = 0;
    if (!number(4, year) || !expect(u'-') || !number(2, month) || !expect(u'-') || !number(2, day))
        return std::nullopt;
    if (at >= text.size() || (text[at] != QLatin1Char('T') && text[at] != QLatin1Char(' ')))
        return std::nullopt;
    ++at;
    if (!number(2, hour) || !expect(u':') || !number(2, minute))
        return std::nullopt;
    if (at < text.size() && text[at] == QLatin1Char(':')) {
        ++at;
        if (!number(2, second))
            return std::nullopt;
    }
    int milliseconds = 0;
    if (at < text.size() && (text[at] == QLatin1Char('.') || text[at] == QLatin1Char(','))) {
        ++at;
        int digits = 0;
        for (; at < text.size() && text[at].unicode() >= u'0' && text[at].unicode() <= u'9'; ++at, ++digits)
            if (digits < 3)
                milliseconds = milliseconds * 10 + (text[at].unicode() - u'0');
        if (digits == 0)
            return std::nullopt;
        for (; digits < 3; ++digits)
            milliseconds *= 10;
    }
    int offset = 0;
    if (at < text.size() && text[at] == QLatin1Char('Z')) {
        ++at;
    } else if (at < text.size() && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-'))) {
        const int sign = text[at++] == QLatin1Char('-') ? -1 : 1;
        int offsetHours, offsetMinutes = 0;
        if (!number(2, offsetHours))
            return std::nullopt;
        if (at < text.size() && text[at] == QLatin1Char(':'))
            ++at;
        if (at < text.size() && !number(2, offsetMinutes))
            return std::nullopt;
        if (offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offset = sign * (offsetHours * 3600 + offsetMinutes * 60);
    } else {
        return std::nullopt;
    }
    if (at != text.size())
        return std::nullopt;

    static constexpr int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > monthDays[month - 1] ||
        (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59)
        return QDateTime();
    const qint64 seconds =
        daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
    if (offset == 0)
        return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + milliseconds, Qt::UTC);
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + milliseconds, Qt::OffsetFromUTC, offset);
}

// A JSON value as the text a time is read from: texts as they are, numbers without exponent; nothing
// for a missing or null member, and a text no time reads for any other value (true, a list).
QString timeTextOf(const QJsonValue &value)
{
    if (value.isUndefined() || value.isNull())
        return {};
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (number == std::floor(number) && std::fabs(number) < 1e15)
            return QString::number(qint64(number));
        return QString::number(number, 'f', 3);
    }
    return QStringLiteral("?");
}

// A feed id as text: ids are texts, but a WKN of digits is easily written as a JSON number.
QString idOf(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (number >= 0 && number < 1e15 && number == std::floor(number))
            return QString::number(qint64(number));
    }
    return {};
}

// The texts of one item (or line, or match) before they become a quote.
struct ItemTexts
{
    QString id;
    std::optional<double> bid, ask, last;
    QStringList times; // none when the entry reads no time
    bool timeGiven = false;
};

// First quote of an id wins, as the first occurrence of a WKN does on the built-in page.
void add(FeedQuotes &quotes, const QuoteFeed &feed, const ItemTexts &item, const QDateTime &arrival)
{
    const QString key = keyOf(item.id);
    if (key.isEmpty() || quotes.contains(key))
        return;
    const std::optional<double> last = usable(item.last);
    std::optional<double> bid = usable(item.bid);
    std::optional<double> ask = usable(item.ask);
    if (!bid)
        bid = last;
    if (!ask)
        ask = last;
    if (!bid)
        bid = ask;
    if (!ask)
        ask = bid;
    if (!bid)
        return;
    FeedQuote quote{*bid, *ask, arrival, false};
    // An item without a time text is as old as its document; one whose text cannot be read has none.
    const QString time = item.times.join(QLatin1Char(' ')).trimmed();
    if (item.timeGiven && !time.isEmpty()) {
        quote.time = timeOf(time, feed, arrival);
        quote.timeUnreadable = !quote.time.isValid();
    }
    quotes.insert(key, quote);
}

int isinDigitSum(const QString &digits)
{
    // Luhn over the digits, the letters counted as two digits (A = 10 ... Z = 35): from the right,
    // every other digit starting with the last is doubled.
    int sum = 0;
    bool doubled = true;
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        int digit = digits[i].unicode() - u'0';
        if (doubled)
            digit = digit * 2 > 9 ? digit * 2 - 9 : digit * 2;
        sum += digit;
        doubled = !doubled;
    }
    return sum;
}

// The check digit of the eleven characters of an ISIN before it; -1 for a character that no ISIN holds.
int isinCheckDigit(const QString &body)
{
    QString digits;
    for (const QChar c : body) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
        else if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            digits += QString::number(c.unicode() - u'A' + 10);
        else
            return -1;
    }
    return (10 - isinDigitSum(digits) % 10) % 10;
}

} // namespace

QString keyOf(const QString &id)
{
    return id.trimmed().toUpper();
}

QString isinOf(const QString &wkn)
{
    const QString text = keyOf(wkn);
    if (text.size() == 12 && text[0].isLetter() && text[1].isLetter() && text[11].isDigit() &&
        isinCheckDigit(text.left(11)) == text[11].unicode() - u'0')
        return text;
    if (text.size() != 6)
        return {};
    const QString body = QStringLiteral("DE000") + text;
    const int check = isinCheckDigit(body);
    return check < 0 ? QString() : body + QString::number(check);
}

std::optional<double> numberOf(const QString &text, QChar decimal)
{
    const QChar group = decimal == QLatin1Char(',') ? QLatin1Char('.') : QLatin1Char(',');
    const auto plain = withoutGrouping(text.trimmed(), group, decimal);
    if (!plain)
        return std::nullopt;
    const auto value = NumberText::tryParseFloat(*plain, decimal);
    // The price rule and the cells work with doubles; a quote beyond their range is no quote.
    if (!value || std::fabs(*value) > static_cast<long double>(DBL_MAX))
        return std::nullopt;
    return static_cast<double>(*value);
}

QDateTime timeOf(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    if (const auto time = fastIsoTime(trimmed))
        return *time;
    bool isNumber = false;
    const double seconds = trimmed.toDouble(&isNumber);
    if (isNumber && trimmed.front().isDigit())
        return fromUnix(seconds, false);
    return QDateTime::fromString(trimmed, Qt::ISODateWithMs);
}

QDateTime timeOf(const QString &text, const QuoteFeed &feed, const QDateTime &arrival)
{
    const QString trimmed = text.trimmed();
    switch (feed.timeFormat) {
    case QuoteFeed::TimeFormat::Unix:
    case QuoteFeed::TimeFormat::UnixMs: {
        bool isNumber = false;
        const double value = trimmed.toDouble(&isNumber);
        if (!isNumber || trimmed.isEmpty() || !trimmed.front().isDigit())
            return {};
        return fromUnix(value, feed.timeFormat == QuoteFeed::TimeFormat::UnixMs);
    }
    case QuoteFeed::TimeFormat::Iso: {
        QDateTime time = timeOf(trimmed);
        // A text without an offset reads as local time: in the entry's zone it is a wall time there.
        if (time.isValid() && feed.timeZone.isValid() && time.timeSpec() == Qt::LocalTime)
            time.setTimeZone(feed.timeZone);
        return time;
    }
    case QuoteFeed::TimeFormat::Pattern:
        break;
    }
    if (trimmed.isEmpty())
        return {};
    static const QRegularExpression dateField(QStringLiteral("[dMy]"));
    QDateTime time;
    if (dateField.match(feed.timePattern).hasMatch()) {
        time = QDateTime::fromString(trimmed, feed.timePattern);
    } else {
        // A pattern without a date gives a time of the day the document arrived.
        const QTime clock = QTime::fromString(trimmed, feed.timePattern);
        if (!clock.isValid())
            return {};
        const QDateTime reference = arrival.isValid() ? arrival : QDateTime::currentDateTime();
        const QDate day =
            feed.timeZone.isValid() ? reference.toTimeZone(feed.timeZone).date() : reference.date();
        time = QDateTime(day, clock);
    }
    if (feed.timeZone.isValid())
        time.setTimeZone(feed.timeZone);
    return time;
}

void readJson(FeedQuotes &quotes, const QByteArray &document, const QuoteFeed &feed, const QString &requestId,
              const QDateTime &arrival)
{
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(document, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw FeedError(QStringLiteral("kein JSON"));
    const QJsonValue root = json.isObject() ? QJsonValue(json.object()) : QJsonValue(json.array());
    const QJsonValue items = follow(root, pathOf(feed.items));

    const QStringList id = pathOf(feed.id), bid = pathOf(feed.bid), ask = pathOf(feed.ask);
    const QStringList last = pathOf(feed.last);
    QList<QStringList> time;
    for (const QString &path : feed.time)
        time << pathOf(path);
    const auto addItem = [&](const QString &itemId, const QJsonValue &item) {
        ItemTexts texts{itemId,
                        numberOfValue(follow(item, bid), feed.decimal),
                        numberOfValue(follow(item, ask), feed.decimal),
                        last.isEmpty() ? std::nullopt : numberOfValue(follow(item, last), feed.decimal),
                        {},
                        !time.isEmpty()};
        for (const QStringList &path : time)
            texts.times << timeTextOf(follow(item, path));
        add(quotes, feed, texts, arrival);
    };
    if (!requestId.isEmpty() && id.isEmpty()) {
        // One component's document: the quote object itself, or the first of a list.
        if (items.isArray() && !items.toArray().isEmpty())
            addItem(requestId, items.toArray().first());
        else if (items.isObject())
            addItem(requestId, items);
        else
            throw FeedError(QStringLiteral("„items“ führt ins Leere"));
    } else if (items.isArray()) {
        if (id.isEmpty())
            throw FeedError(QStringLiteral("„items“ führt zu einer Liste, aber „id“ fehlt"));
        const QJsonArray list = items.toArray();
        quotes.reserve(quotes.size() + list.size());
        for (const QJsonValue &item : list)
            addItem(idOf(follow(item, id)), item);
    } else if (items.isObject()) {
        // An object keyed by id: the member names are the ids.
        const QJsonObject object = items.toObject();
        quotes.reserve(quotes.size() + object.size());
        for (auto it = object.begin(); it != object.end(); ++it)
            addItem(it.key(), it.value());
    } else {
        throw FeedError(QStringLiteral("„items“ führt ins Leere"));
    }
}

void readPattern(FeedQuotes &quotes, const QByteArray &page, const QuoteFeed &feed, const QString &requestId,
                 const QDateTime &arrival)
{
    const QRegularExpression pattern(feed.pattern);
    const QStringList groups = pattern.namedCaptureGroups();
    const int id = int(groups.indexOf(QStringLiteral("id")));
    const int bid = int(groups.indexOf(QStringLiteral("bid")));
    const int ask = int(groups.indexOf(QStringLiteral("ask")));
    const int last = int(groups.indexOf(QStringLiteral("last")));
    const int time = int(groups.indexOf(QStringLiteral("time")));
    if (!pattern.isValid() || (id < 0 && requestId.isEmpty()) || bid < 0 || ask < 0)
        throw FeedError(QStringLiteral("„pattern“ ist ungültig oder ohne die Gruppen id, bid und ask"));

    const QString text = QString::fromUtf8(page);
    for (auto matches = pattern.globalMatch(text); matches.hasNext();) {
        const QRegularExpressionMatch match = matches.next();
        ItemTexts texts{id < 0 ? requestId : match.captured(id),
                        numberOf(match.captured(bid), feed.decimal),
                        numberOf(match.captured(ask), feed.decimal),
                        last < 0 ? std::nullopt : numberOf(match.captured(last), feed.decimal),
                        {},
                        time >= 0 && match.capturedStart(time) >= 0};
        if (texts.timeGiven)
            texts.times << match.captured(time);
        add(quotes, feed, texts, arrival);
        if (id < 0)
            break;
    }
}

void readCsv(FeedQuotes &quotes, const QByteArray &document, const QuoteFeed &feed, const QString &requestId,
             const QDateTime &arrival)
{
    // UTF-8 where it is valid, else Latin-1, as German spreadsheets write (ids and numbers are ASCII).
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(document);
    if (utf8.hasError())
        text = QString::fromLatin1(document);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QStringView body = QStringView(text).mid(CsvTable::lineStart(text, feed.skip));

    QChar separator = feed.separator;
    if (separator.isNull()) {
        const QStringView header =
            body.left(body.indexOf(QLatin1Char('\n')) < 0 ? body.size() : body.indexOf(QLatin1Char('\n')));
        for (const QChar candidate : {QLatin1Char(';'), QLatin1Char(','), QLatin1Char('\t')})
            if (header.contains(candidate)) {
                separator = candidate;
                break;
            }
        if (separator.isNull())
            separator = QLatin1Char(';');
    }
    const QList<QStringList> records = CsvTable::parse(body, separator);
    if (records.isEmpty())
        throw FeedError(QStringLiteral("keine Kopfzeile"));
    const QStringList &header = records.first();
    const auto columnOf = [&header](const QString &name) -> qsizetype {
        if (name.isEmpty())
            return -1;
        bool isNumber = false;
        const int number = name.toInt(&isNumber);
        if (isNumber && number >= 0)
            return number;
        for (qsizetype i = 0; i < header.size(); ++i)
            if (header[i].trimmed().compare(name, Qt::CaseInsensitive) == 0)
                return i;
        throw FeedError(QStringLiteral("Spalte „%1“ fehlt in der Kopfzeile").arg(name));
    };
    const qsizetype id = columnOf(feed.id), bid = columnOf(feed.bid), ask = columnOf(feed.ask);
    const qsizetype last = columnOf(feed.last);
    QList<qsizetype> time;
    for (const QString &name : feed.time)
        time << columnOf(name);
    const auto field = [](const QStringList &record, qsizetype column) {
        return column >= 0 && column < record.size() ? record[column] : QString();
    };
    quotes.reserve(quotes.size() + records.size() - 1);
    for (qsizetype line = 1; line < records.size(); ++line) {
        const QStringList &record = records[line];
        ItemTexts texts{id < 0 ? requestId : field(record, id),
                        numberOf(field(record, bid), feed.decimal),
                        numberOf(field(record, ask), feed.decimal),
                        last < 0 ? std::nullopt : numberOf(field(record, last), feed.decimal),
                        {},
                        !time.isEmpty()};
        for (const qsizetype column : time)
            texts.times << field(record, column);
        add(quotes, feed, texts, arrival);
    }
}

void read(FeedQuotes &quotes, const QByteArray &document, const QuoteFeed &feed, const QString &requestId,
          const QDateTime &arrival)
{
    switch (feed.kind) {
    case QuoteFeed::Kind::Json:
        return readJson(quotes, document, feed, requestId, arrival);
    case QuoteFeed::Kind::Pattern:
        return readPattern(quotes, document, feed, requestId, arrival);
    case QuoteFeed::Kind::Csv:
        return readCsv(quotes, document, feed, requestId, arrival);
    case QuoteFeed::Kind::Page:
        break;
    }
    throw FeedError(QStringLiteral("die eingebaute Kursseite wird anders gelesen"));
}

} // namespace FeedExtraction
