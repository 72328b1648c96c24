#include "zkInboxAlert.h"

#include "platform/zkOutsideText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <optional>

namespace zkInbox {

namespace {

using TKind = TInboxError::TKind;

TInboxParseResult Failure(TKind kind, const QString& message) {
    TInboxParseResult result;
    result.Error.Kind = kind;
    result.Error.Message = message;
    return result;
}

QString Quoted(QLatin1String field) {
    return QLatin1Char('"') + field + QLatin1Char('"');
}

bool IsControl(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u <= 0x9f);
}

bool HasControl(const QString& text, bool tabAllowed) {
    for (const QChar c : text)
        if (IsControl(c) && !(tabAllowed && c == QLatin1Char('\t')))
            return true;
    return false;
}

qsizetype CodePoints(const QString& text) {
    qsizetype count = 0;
    for (qsizetype i = 0, units = 0; i < text.size(); i += units, ++count)
        zkOutsideText::CodePointAt(text, i, units);
    return count;
}

// Decimal text only: optional sign, digits with an optional fraction, optional exponent. Words
// such as "nan" or "inf", hexadecimal and thousands separators are not prices.
std::optional<double> NumberFromText(const QString& raw) {
    const QString text = raw.trimmed();
    const QByteArray bytes = text.toLatin1();
    if (bytes.isEmpty() || text.size() > 64)
        return std::nullopt;
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    if (bytes[i] == '+' || bytes[i] == '-')
        ++i;
    qsizetype digits = 0;
    while (i < n && bytes[i] >= '0' && bytes[i] <= '9')
        ++i, ++digits;
    if (i < n && bytes[i] == '.') {
        ++i;
        while (i < n && bytes[i] >= '0' && bytes[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (bytes[i] == 'e' || bytes[i] == 'E')) {
        ++i;
        if (i < n && (bytes[i] == '+' || bytes[i] == '-'))
            ++i;
        qsizetype exponentDigits = 0;
        while (i < n && bytes[i] >= '0' && bytes[i] <= '9')
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    bool ok = false;
    const double value = QString::fromLatin1(bytes).toDouble(&ok);
    // toDouble refuses what overflows; the caller tells "too large" from the value.
    if (!ok)
        return std::isinf(std::strtod(bytes.constData(), nullptr)) ? std::optional<double>(HUGE_VAL)
                                                                   : std::nullopt;
    return value;
}

// A short text field: trimmed, not empty, not too long, no control characters.
bool ReadName(const QJsonValue& value, QLatin1String field, qsizetype maxChars, QString& out,
              QString& why) {
    if (!value.isString()) {
        why = Quoted(field) + QStringLiteral(" is not text");
        return false;
    }
    out = value.toString().trimmed();
    if (out.isEmpty()) {
        why = Quoted(field) + QStringLiteral(" is empty");
        return false;
    }
    if (CodePoints(out) > maxChars) {
        why = Quoted(field) + QStringLiteral(" is longer than %1 characters").arg(maxChars);
        return false;
    }
    if (const QString problem = zkOutsideText::NameProblem(out); !problem.isEmpty()) {
        why = Quoted(field) + QLatin1Char(' ') + problem;
        return false;
    }
    return true;
}

bool Present(const QJsonValue& value) {
    return !value.isUndefined() && !value.isNull();
}

struct TField {
    QLatin1String Name;
    QJsonValue Value;
};

// The first of the names the object holds a value for (not missing, not null): what charting
// sites' templates call a field is taken beside our own name for it.
template <std::size_t N>
std::optional<TField> FirstPresent(const QJsonObject& object, const QLatin1String (&names)[N]) {
    for (const QLatin1String name : names)
        if (QJsonValue value = object.value(name); Present(value))
            return TField{name, std::move(value)};
    return std::nullopt;
}

constexpr QLatin1String SymbolFields[] = {QLatin1String("symbol"), QLatin1String("ticker")};
constexpr QLatin1String PriceFields[] = {QLatin1String("price"), QLatin1String("close"),
                                         QLatin1String("last")};
constexpr QLatin1String DescriptionFields[] = {QLatin1String("description"),
                                               QLatin1String("message"), QLatin1String("text"),
                                               QLatin1String("comment")};
constexpr QLatin1String StrategyFields[] = {QLatin1String("strategy"), QLatin1String("alert_name"),
                                            QLatin1String("name")};

// A description as a row holds it. Alert windows show one line: a line break becomes a blank;
// other control characters would only garble the window or a log, so they are refused.
bool ReadDescription(const QString& raw, QLatin1String field, QString& out, QString& why) {
    // The error names the field, or "the text" for a message that is text.
    const auto what = [field] {
        return field.isEmpty() ? QStringLiteral("the text") : Quoted(field);
    };
    QString text = zkOutsideText::ShownDescription(raw);
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text = text.trimmed();
    if (HasControl(text, true)) {
        why = what() + QStringLiteral(" holds a control character");
        return false;
    }
    if (text.toUtf8().size() > MaxDescriptionBytes) {
        why = what() + QStringLiteral(" is longer than %1 bytes of UTF-8").arg(MaxDescriptionBytes);
        return false;
    }
    out = text;
    return true;
}

bool ReadAlert(const QJsonObject& object, const QString& defaultStrategy, TInboxAlert& alert,
               QString& why) {
    const std::optional<TField> symbol = FirstPresent(object, SymbolFields);
    if (!symbol) {
        why = QStringLiteral("\"symbol\" is missing");
        return false;
    }
    if (!ReadName(symbol->Value, symbol->Name, MaxSymbolChars, alert.Symbol, why))
        return false;

    if (const std::optional<TField> field = FirstPresent(object, PriceFields)) {
        const QJsonValue& price = field->Value;
        // An empty price (a form field left blank, a template with nothing in it) is no price.
        const bool blankPrice = price.isString() && price.toString().trimmed().isEmpty();
        if (!blankPrice) {
            std::optional<double> value;
            if (price.isDouble())
                value = price.toDouble();
            else if (price.isString())
                value = NumberFromText(price.toString());
            if (!value || std::isnan(*value)) {
                why = Quoted(field->Name) + QStringLiteral(" is not a number");
                return false;
            }
            if (std::isinf(*value) || std::fabs(*value) > MaxPrice) {
                why = Quoted(field->Name) + QStringLiteral(" is too large (over 1e12)");
                return false;
            }
            if (*value < 0) {
                why = Quoted(field->Name) + QStringLiteral(" is negative");
                return false;
            }
            alert.Price = *value + 0.0; // no "-0"
            alert.HasPrice = true;
        }
    }

    if (const std::optional<TField> field = FirstPresent(object, DescriptionFields)) {
        const QJsonValue& description = field->Value;
        if (!description.isString()) {
            why = Quoted(field->Name) + QStringLiteral(" is not text");
            return false;
        }
        if (!ReadDescription(description.toString(), field->Name, alert.Description, why))
            return false;
    }

    if (const std::optional<TField> field = FirstPresent(object, StrategyFields)) {
        if (!ReadName(field->Value, field->Name, MaxStrategyChars, alert.Strategy, why))
            return false;
    } else {
        alert.Strategy = defaultStrategy;
    }

    const QJsonValue skip = object.value(QLatin1String("skip"));
    if (Present(skip)) {
        std::optional<bool> value;
        if (skip.isBool()) {
            value = skip.toBool();
        } else if (skip.isDouble()) {
            value = skip.toDouble() != 0;
        } else if (skip.isString()) {
            const QString text = skip.toString().trimmed();
            if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
                value = true;
            else if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
                value = false;
            else if (const std::optional<double> number = NumberFromText(text))
                value = *number != 0;
        }
        if (!value) {
            why = QStringLiteral("\"skip\" is not true, false or a number");
            return false;
        }
        alert.Skip = *value;
    }
    return true;
}

// Form fields as JSON text values (the first of a repeated name counts), so that forms and
// JSON are read by the same code. False when a name or value is not UTF-8.
bool FormFields(const QByteArray& form, QJsonObject& fields) {
    for (const QByteArray& pair : form.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        QByteArray name = equals < 0 ? pair : pair.left(equals);
        QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        name.replace('+', ' ');
        value.replace('+', ' ');
        name = QByteArray::fromPercentEncoding(name);
        value = QByteArray::fromPercentEncoding(value);
        if (InvalidUtf8At(name) >= 0 || InvalidUtf8At(value) >= 0)
            return false;
        const QString key = QString::fromUtf8(name);
        if (!fields.contains(key))
            fields.insert(key, QString::fromUtf8(value));
    }
    return true;
}

bool IsBlank(const char* begin, const char* end) {
    for (const char* p = begin; p < end; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
            return false;
    return true;
}

QString JsonProblem(const QJsonParseError& error) {
    return QStringLiteral("not valid JSON (%1 at byte %2)")
        .arg(error.errorString())
        .arg(error.offset);
}

TInboxParseResult FromObjects(const QJsonArray& items, const QString& defaultStrategy) {
    if (items.size() > MaxAlertsPerRequest)
        return Failure(
            TKind::TooLarge,
            QStringLiteral("more than %1 alerts in one request").arg(MaxAlertsPerRequest));
    if (items.isEmpty())
        return Failure(TKind::BadInput, QStringLiteral("no alert in the request"));
    TInboxParseResult result;
    result.Alerts.reserve(items.size());
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QJsonValue item = items.at(i);
        const auto prefix = [i] { return QStringLiteral("item %1: ").arg(i + 1); };
        if (!item.isObject())
            return Failure(TKind::BadInput, prefix() + QStringLiteral("not a JSON object"));
        TInboxAlert alert;
        QString why;
        if (!ReadAlert(item.toObject(), defaultStrategy, alert, why))
            return Failure(TKind::BadInput, prefix() + why);
        result.Alerts.append(std::move(alert));
    }
    return result;
}

TInboxParseResult FromLines(const QByteArray& body, const QString& defaultStrategy) {
    // Counted first, so an oversized request is told as such whatever its lines hold.
    qsizetype count = 0;
    for (qsizetype start = 0; start < body.size();) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = body.size();
        count += !IsBlank(body.constData() + start, body.constData() + end);
        start = end + 1;
    }
    if (count > MaxAlertsPerRequest)
        return Failure(
            TKind::TooLarge,
            QStringLiteral("more than %1 alerts in one request").arg(MaxAlertsPerRequest));
    if (count == 0)
        return Failure(TKind::BadInput, QStringLiteral("no alert in the request"));
    TInboxParseResult result;
    result.Alerts.reserve(count);
    qsizetype lineNumber = 0;
    for (qsizetype start = 0; start < body.size();) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = body.size();
        ++lineNumber;
        const QByteArray line = body.mid(start, end - start);
        start = end + 1;
        if (IsBlank(line.constData(), line.constData() + line.size()))
            continue;
        const auto prefix = [lineNumber] { return QStringLiteral("line %1: ").arg(lineNumber); };
        if (InvalidUtf8At(line) >= 0)
            return Failure(TKind::BadInput, prefix() + QStringLiteral("not valid UTF-8"));
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError)
            return Failure(TKind::BadInput, prefix() + JsonProblem(error));
        if (!document.isObject())
            return Failure(TKind::BadInput, prefix() + QStringLiteral("not a JSON object"));
        TInboxAlert alert;
        QString why;
        if (!ReadAlert(document.object(), defaultStrategy, alert, why))
            return Failure(TKind::BadInput, prefix() + why);
        result.Alerts.append(std::move(alert));
    }
    return result;
}

TInboxParseResult FromFields(const QJsonObject& fields, const QString& defaultStrategy) {
    TInboxParseResult result;
    TInboxAlert alert;
    QString why;
    if (!ReadAlert(fields, defaultStrategy, alert, why))
        return Failure(TKind::BadInput, why);
    result.Alerts.append(std::move(alert));
    return result;
}

bool IsCapital(QChar c) {
    return c >= QLatin1Char('A') && c <= QLatin1Char('Z');
}

bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool IsSymbolChar(QChar c) {
    return IsCapital(c) || IsDigit(c) || QStringView(u".-_/!^").contains(c);
}

// The text's first word when it is written as a symbol: capitals, digits and . - _ / ! ^,
// beginning with a capital, a digit or ^, holding a capital unless an exchange stands before it
// ("NASDAQ:AAPL" gives "AAPL", "HKEX:700" gives "700"). A comma, colon, semicolon or full stop
// after the word is punctuation. Otherwise empty: "Buy", "1,000", "[Long]" or "{{ticker}}" are
// words, not symbols.
QString SymbolOfText(const QString& text) {
    qsizetype end = 0;
    while (end < text.size() && !text.at(end).isSpace())
        ++end;
    QStringView word = QStringView(text).first(end);
    while (!word.isEmpty() && QStringView(u",;:.").contains(word.back()))
        word.chop(1);
    QStringView symbol = word;
    bool exchange = false;
    if (const qsizetype colon = word.indexOf(QLatin1Char(':')); colon >= 0) {
        const QStringView prefix = word.first(colon);
        bool capital = false;
        for (const QChar c : prefix) {
            if (!IsCapital(c) && !IsDigit(c) && c != QLatin1Char('_'))
                return QString();
            capital = capital || IsCapital(c);
        }
        if (!capital)
            return QString();
        symbol = word.sliced(colon + 1);
        exchange = true;
    }
    if (symbol.isEmpty() || symbol.size() > MaxSymbolChars)
        return QString();
    if (!IsCapital(symbol.front()) && !IsDigit(symbol.front()) &&
        symbol.front() != QLatin1Char('^'))
        return QString();
    bool capital = false;
    for (const QChar c : symbol) {
        if (!IsSymbolChar(c))
            return QString();
        capital = capital || IsCapital(c);
    }
    return capital || exchange ? symbol.toString() : QString();
}

QString NoSymbolInText() {
    return QStringLiteral("the text names no symbol: start it with the symbol (AAPL or "
                          "NASDAQ:AAPL), add ?symbol=AAPL to the webhook's address, or send JSON "
                          "with a \"symbol\"");
}

// A message that is text, not JSON or a form: one alert, the text its description. The text
// is valid UTF-8.
TInboxParseResult FromText(const QByteArray& body, const TInboxDefaults& defaults,
                           const QString& defaultStrategy) {
    TInboxAlert alert;
    QString why;
    if (!ReadDescription(QString::fromUtf8(body), QLatin1String(), alert.Description, why))
        return Failure(TKind::BadInput, why);
    if (defaults.Symbol) {
        if (!ReadName(QJsonValue(*defaults.Symbol), QLatin1String("symbol"), MaxSymbolChars,
                      alert.Symbol, why))
            return Failure(TKind::BadInput, defaults.Origin + QStringLiteral(": ") + why);
    } else {
        // Taken from the text as shown, so it is what the row shows first.
        alert.Symbol = SymbolOfText(alert.Description);
        if (alert.Symbol.isEmpty())
            return Failure(TKind::BadInput, NoSymbolInText());
    }
    alert.Strategy = defaultStrategy;
    TInboxParseResult result;
    result.Alerts.append(std::move(alert));
    return result;
}

// A form only when one of its fields is named as an alert's: "curl -d 'AAPL up 5%'" labels
// text as a form too.
bool HasAlertFieldName(const QByteArray& form) {
    for (const QByteArray& pair : form.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals <= 0)
            continue;
        QByteArray name = pair.left(equals);
        name.replace('+', ' ');
        const QByteArray decoded = QByteArray::fromPercentEncoding(name);
        const QLatin1String key(decoded);
        const auto named = [&key](const auto& fields) {
            return std::find(std::begin(fields), std::end(fields), key) != std::end(fields);
        };
        if (named(SymbolFields) || named(PriceFields) || named(DescriptionFields) ||
            named(StrategyFields) || key == QLatin1String("skip"))
            return true;
    }
    return false;
}

bool IsLinesType(const QByteArray& type) {
    return type == "application/x-ndjson" || type == "application/ndjson" ||
           type == "application/jsonl" || type == "application/x-jsonlines" ||
           type == "application/jsonlines";
}

// JSON lines rather than text: the first line that is not blank is a JSON object.
bool StartsWithObjectLine(const QByteArray& body) {
    for (qsizetype start = 0; start < body.size();) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = body.size();
        if (!IsBlank(body.constData() + start, body.constData() + end))
            return QJsonDocument::fromJson(body.mid(start, end - start)).isObject();
        start = end + 1;
    }
    return false;
}

QByteArray WithoutByteOrderMark(const QByteArray& body) {
    return body.startsWith("\xEF\xBB\xBF") ? body.sliced(3) : body;
}

} // namespace

qsizetype InvalidUtf8At(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        qsizetype length;
        unsigned char low = 0x80, high = 0xBF; // range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0; // overlong
            else if (c == 0xED)
                high = 0x9F; // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90; // overlong
            else if (c == 0xF4)
                high = 0x8F; // past U+10FFFF
        } else {
            return i;
        }
        if (i + length > n)
            return i;
        if (p[i + 1] < low || p[i + 1] > high)
            return i;
        for (qsizetype k = 2; k < length; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF)
                return i;
        i += length;
    }
    return -1;
}

TInboxParseResult ParseInboxMessage(const QByteArray& message, const QByteArray& contentType,
                                    const TInboxDefaults& defaults) {
    const QByteArray body = WithoutByteOrderMark(message);
    if (IsBlank(body.constData(), body.constData() + body.size()))
        return Failure(TKind::BadInput, QStringLiteral("no alert in the request"));

    QString defaultStrategy = DefaultStrategy();
    if (defaults.Strategy) {
        QString why;
        if (!ReadName(QJsonValue(*defaults.Strategy), QLatin1String("strategy"), MaxStrategyChars,
                      defaultStrategy, why))
            return Failure(TKind::BadInput, defaults.Origin + QStringLiteral(": ") + why);
    }

    const qsizetype semicolon = contentType.indexOf(';');
    const QByteArray type =
        (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
    const bool labelledJson =
        type == "application/json" || type.endsWith("+json") || IsLinesType(type);
    // "curl -d '{...}'" labels JSON as a form; no form field name starts with a brace.
    const QByteArray trimmed = body.trimmed();
    const bool looksJson = trimmed.startsWith('{') || trimmed.startsWith('[');
    if (type == "application/x-www-form-urlencoded" && !looksJson && HasAlertFieldName(body)) {
        QJsonObject fields;
        if (!FormFields(body, fields))
            return Failure(TKind::BadInput, QStringLiteral("the form is not valid UTF-8"));
        return FromFields(fields, defaultStrategy);
    }
    if (IsLinesType(type) && looksJson)
        return FromLines(body, defaultStrategy);

    const qsizetype bad = InvalidUtf8At(body);
    if (bad >= 0)
        return Failure(TKind::BadInput, QStringLiteral("the body is not valid UTF-8 (byte %1)")
                                            .arg(bad + message.size() - body.size()));
    if (!looksJson)
        return FromText(body, defaults, defaultStrategy);

    // Whatever the type says: charting sites send JSON as text/plain too.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error == QJsonParseError::NoError) {
        if (document.isArray())
            return FromObjects(document.array(), defaultStrategy);
        return FromFields(document.object(), defaultStrategy);
    }
    // Several lines that are not one document: JSON lines, told line by line.
    if (trimmed.startsWith('{') && trimmed.contains('\n') && StartsWithObjectLine(body))
        return FromLines(body, defaultStrategy);
    const QString problem = QStringLiteral("the body is ") + JsonProblem(error);
    if (labelledJson)
        return Failure(TKind::BadInput, problem);
    // Text that happens to begin with a bracket ("[Long] AAPL ..."), or JSON gone wrong: the
    // sender is told both readings when neither works.
    TInboxParseResult text = FromText(body, defaults, defaultStrategy);
    if (!text.Ok())
        text.Error.Message = problem + QStringLiteral("; read as text, ") + text.Error.Message;
    return text;
}

TInboxParseResult ParseInboxBody(const QByteArray& body, const QByteArray& contentType,
                                 const QByteArray& query) {
    QJsonObject queryFields;
    if (!FormFields(query, queryFields))
        return Failure(TKind::BadInput, QStringLiteral("the query is not valid UTF-8"));
    const QByteArray content = WithoutByteOrderMark(body);
    if (IsBlank(content.constData(), content.constData() + content.size())) {
        if (queryFields.isEmpty())
            return Failure(TKind::BadInput, QStringLiteral("no alert in the request"));
        return FromFields(queryFields, DefaultStrategy());
    }
    TInboxDefaults defaults;
    if (const QJsonValue strategy = queryFields.value(QLatin1String("strategy")); Present(strategy))
        defaults.Strategy = strategy.toString();
    if (const QJsonValue symbol = queryFields.value(QLatin1String("symbol")); Present(symbol))
        defaults.Symbol = symbol.toString();
    return ParseInboxMessage(body, contentType, defaults);
}

} // namespace zkInbox
