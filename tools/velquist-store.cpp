// velquist-store: reads and changes the per-user store of the Velquist client from the shell.
//
//   velquist-store get KEY NAME              print one value
//   velquist-store set KEY NAME KIND VALUE   write one value, creating missing keys
//   velquist-store delete KEY [NAME]         remove a value, or a key with everything below it
//   velquist-store list KEY                  subkeys ("Name\") and values of one key
//   velquist-store export [KEY]              the whole tree below KEY (default: everything)
//
// "get" prints the bare value: dword and qword as signed decimal, sz and expand_sz as text,
// binary as lowercase hex digits, multi_sz one string a line. "list" prints the subkeys, each
// followed by "\", then the values. "export" prints, for the key and every key below it in
// creation order, a "[\full\path]" line, its values and a blank line. A value line is
// "Name"=kind:data, with @ for the default value; texts are in double quotes with \\, \",
// \n, \r, \t and \xHH escapes, multi_sz strings comma-separated:
//   [\Software\Velquist Client\Settings]
//   "UserName"=sz:"alice"
//   "SaveOnExit"=dword:2
//   [\Software\Velquist Client\Settings\Updates]
//   "UpdateTime"=binary:0000000000408f40
//
// The login password ("Password" in ...\Settings), the inbox token ("Token" in
// ...\Settings\Inbox) and the broker password ("Password" in ...\Settings\Broker) are here
// only while the desktop has no keyring; the client moves them into its keyring when one
// answers. "get" of one that is not here says so. One "set" here is taken by the client at its
// next start (and moved into the keyring).
//
// Exit status: 0 done, 1 key or value missing or the store failed, 2 usage error.
#include "config/zkSecrets.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "platform/zkErrors.h"
#include "platform/zkVersion.h"

#include <QCoreApplication>
#include <QStringList>

#include <cctype>
#include <cstdio>

namespace {

const char* const UsageText =
    "Usage: velquist-store get KEY NAME\n"
    "       velquist-store set KEY NAME KIND VALUE\n"
    "       velquist-store delete KEY [NAME]\n"
    "       velquist-store list KEY\n"
    "       velquist-store export [KEY]\n"
    "KEY is a backslash path such as '\\Software\\Velquist Client\\Settings'; NAME \"\" is the\n"
    "key's default value. KIND is dword, qword, sz, expand_sz, binary (VALUE in hex digits) or\n"
    "multi_sz (any number of VALUEs). Numbers are decimal, or hexadecimal after $ or 0x.\n"
    "The login password, the inbox token and the broker password are kept in the desktop's\n"
    "keyring when one answers the client, and are then not in this store: see them with\n"
    "'secret-tool search --all application velquist' or Seahorse. A value set here is moved\n"
    "there at the client's next start.\n";

// Thrown to end the program with a message on stderr and an exit status.
struct TExit {
    int Status;
    QString Message;
};

[[noreturn]] void Usage(const QString& problem) {
    throw TExit{2, problem};
}

void Print(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

// The key path as stored, so output shows the names in the case they were created with.
QString StoredPath(TUserStore& store, const QString& path) {
    QString stored;
    for (const QString& part : path.split(u'\\', Qt::SkipEmptyParts)) {
        QString name = part;
        for (const QString& sub : store.SubKeys(stored))
            if (sub.compare(part, Qt::CaseInsensitive) == 0)
                name = sub;
        stored += u'\\' + name;
    }
    return stored.isEmpty() ? QStringLiteral("\\") : stored;
}

QString Quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'"':
            out += QStringLiteral("\\\"");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out + u'"';
}

// The value as "get" prints it.
QString PlainText(const TStoreValue& value) {
    switch (value.Kind) {
    case TValueKind::Dword:
    case TValueKind::Qword:
        return QString::number(value.Number);
    case TValueKind::Sz:
    case TValueKind::ExpandSz:
        return value.Text;
    case TValueKind::Binary:
        return QString::fromLatin1(value.Bytes.toHex());
    case TValueKind::MultiSz:
        return value.Strings.join(u'\n');
    case TValueKind::None:
        break;
    }
    return QString();
}

// One value line of "list" and "export": "Name"=kind:data, @ for the default value.
QString ValueLine(const QString& name, const TStoreValue& value) {
    QString data;
    switch (value.Kind) {
    case TValueKind::Sz:
    case TValueKind::ExpandSz:
        data = Quoted(value.Text);
        break;
    case TValueKind::MultiSz: {
        QStringList parts;
        for (const QString& s : value.Strings)
            parts.append(Quoted(s));
        data = parts.join(u',');
        break;
    }
    default:
        data = PlainText(value);
    }
    const QString kind =
        value.Kind == TValueKind::None ? QStringLiteral("unknown") : ValueKindName(value.Kind);
    return (name.isEmpty() ? QStringLiteral("@") : Quoted(name)) + u'=' + kind + u':' + data +
           u'\n';
}

// The keyring's name for the secret kept at key\name, or nothing when that is no secret.
QString KeyringKind(const QString& key, const QString& name) {
    const auto at = [&](const char* tail, const char* value) {
        return key.endsWith(QLatin1String(tail), Qt::CaseInsensitive) &&
               name.compare(QLatin1String(value), Qt::CaseInsensitive) == 0;
    };
    if (at("\\Settings", "Password"))
        return SecretKindName(TSecretKind::LoginPassword);
    if (at("\\Settings\\Inbox", "Token"))
        return SecretKindName(TSecretKind::InboxToken);
    if (at("\\Settings\\Broker", "Password"))
        return SecretKindName(TSecretKind::BrokerPassword);
    return QString();
}

void RequireKey(TUserStore& store, const QString& key) {
    if (!store.KeyExists(key))
        throw TExit{1, QStringLiteral("no key %1").arg(key)};
}

QString JoinPath(const QString& parent, const QString& name) {
    return (parent == QLatin1String("\\") ? QString() : parent) + u'\\' + name;
}

void ExportKey(TUserStore& store, const QString& path) {
    Print(u'[' + path + QStringLiteral("]\n"));
    for (const auto& [name, value] : store.Values(path))
        Print(ValueLine(name, value));
    Print(QStringLiteral("\n"));
    for (const QString& sub : store.SubKeys(path))
        ExportKey(store, JoinPath(path, sub));
}

bool ParseNumber(const QString& text, bool wide, int64_t& number) {
    const QString trimmed = text.trimmed();
    bool ok = false;
    if (!wide) {
        int32_t value = 0;
        if (TryParseIntegerText(trimmed, value)) {
            number = value;
            return true;
        }
        const qulonglong bits = trimmed.toULongLong(&ok, 10);
        if (ok && bits <= 0xFFFFFFFFull)
            number = int32_t(uint32_t(bits));
        return ok && bits <= 0xFFFFFFFFull;
    }
    QString digits = trimmed;
    bool negative = digits.startsWith(u'-');
    if (negative || digits.startsWith(u'+'))
        digits.remove(0, 1);
    int base = 10;
    if (digits.startsWith(u'$')) {
        base = 16;
        digits.remove(0, 1);
    } else if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        digits.remove(0, 2);
    }
    if (digits.isEmpty() || !digits.front().isLetterOrNumber())
        return false;
    const qulonglong magnitude = digits.toULongLong(&ok, base);
    if (!ok || (negative && magnitude > 0x8000000000000000ull))
        return false;
    number = int64_t(negative ? 0 - magnitude : magnitude);
    return true;
}

bool ParseHex(const QString& text, QByteArray& bytes) {
    QString digits;
    for (const QChar c : text) {
        if (c == u' ' || c == u',' || c == u':')
            continue;
        if (!isxdigit(c.toLatin1()) || c.unicode() > 0x7F)
            return false;
        digits += c;
    }
    if (digits.size() % 2 != 0)
        return false;
    bytes = QByteArray::fromHex(digits.toLatin1());
    return true;
}

TStoreValue ParseValue(const QString& kindName, const QStringList& args) {
    const TValueKind kind = ValueKindFromName(kindName);
    if (kind == TValueKind::None)
        Usage(QStringLiteral("unknown kind \"%1\"").arg(kindName));
    if (kind == TValueKind::MultiSz)
        return TStoreValue::MultiSz(args);
    if (args.size() != 1)
        Usage(QStringLiteral("set needs exactly one VALUE for kind %1").arg(kindName));
    const QString& text = args.front();
    switch (kind) {
    case TValueKind::Dword:
    case TValueKind::Qword: {
        int64_t number = 0;
        if (!ParseNumber(text, kind == TValueKind::Qword, number))
            Usage(QStringLiteral("\"%1\" is not a %2").arg(text, kindName));
        return kind == TValueKind::Dword ? TStoreValue::Dword(int32_t(number))
                                         : TStoreValue::Qword(number);
    }
    case TValueKind::Binary: {
        QByteArray bytes;
        if (!ParseHex(text, bytes))
            Usage(QStringLiteral("\"%1\" is not hexadecimal bytes").arg(text));
        return TStoreValue::Binary(bytes);
    }
    case TValueKind::ExpandSz:
        return TStoreValue::ExpandSz(text);
    default:
        return TStoreValue::Sz(text);
    }
}

int Run(const QStringList& args) {
    if (args.isEmpty())
        Usage(QStringLiteral("no command given"));
    const QString command = args.front();
    const qsizetype count = args.size() - 1;
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        Print(QString::fromLatin1(UsageText));
        return 0;
    }
    const bool known = command == QLatin1String("get") || command == QLatin1String("set") ||
                       command == QLatin1String("delete") || command == QLatin1String("list") ||
                       command == QLatin1String("export");
    if (!known)
        Usage(QStringLiteral("unknown command \"%1\"").arg(command));
    if ((command == QLatin1String("get") && count != 2) ||
        (command == QLatin1String("set") && count < 3) ||
        (command == QLatin1String("delete") && count != 1 && count != 2) ||
        (command == QLatin1String("list") && count != 1) ||
        (command == QLatin1String("export") && count > 1))
        Usage(QStringLiteral("wrong number of arguments for %1").arg(command));
    // Check the value before touching the store, so a usage error changes nothing.
    const TStoreValue newValue =
        command == QLatin1String("set") ? ParseValue(args[3], args.mid(4)) : TStoreValue();

    TUserStore& store = TUserStore::Instance();
    const QString key = count >= 1 ? args[1] : QStringLiteral("\\");

    if (command == QLatin1String("get")) {
        TStoreValue value;
        RequireKey(store, key);
        if (!store.GetValue(key, args[2], value)) {
            QString message = QStringLiteral("no value \"%1\" in %2").arg(args[2], key);
            const QString kind = KeyringKind(key, args[2]);
            if (!kind.isEmpty())
                message += QStringLiteral("; with a keyring on the desktop the client keeps it "
                                          "there: secret-tool lookup application velquist "
                                          "kind %1")
                               .arg(kind);
            throw TExit{1, message};
        }
        Print(PlainText(value) + u'\n');
    } else if (command == QLatin1String("set")) {
        if (!store.SetValue(key, args[2], newValue))
            throw TExit{1, QStringLiteral("cannot create the key %1").arg(key)};
    } else if (command == QLatin1String("delete")) {
        RequireKey(store, key);
        if (count == 2 && !store.DeleteValue(key, args[2]))
            throw TExit{1, QStringLiteral("no value \"%1\" in %2").arg(args[2], key)};
        if (count == 1)
            store.DeleteKey(key);
    } else if (command == QLatin1String("list")) {
        RequireKey(store, key);
        for (const QString& sub : store.SubKeys(key))
            Print(sub + QStringLiteral("\\\n"));
        for (const auto& [name, value] : store.Values(key))
            Print(ValueLine(name, value));
    } else {
        RequireKey(store, key);
        ExportKey(store, StoredPath(store, key));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (zkVersion::AnswerInfoOption(argc, argv, "velquist-store", UsageText))
        return 0;
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    try {
        const int status = Run(args);
        std::fflush(stdout);
        return status;
    } catch (const TExit& exit) {
        std::fflush(stdout);
        std::fprintf(stderr, "velquist-store: %s\n", exit.Message.toLocal8Bit().constData());
        if (exit.Status == 2)
            std::fputs(UsageText, stderr);
        return exit.Status;
    } catch (const EZkError& error) {
        std::fprintf(stderr, "velquist-store: %s\n", error.message().toLocal8Bit().constData());
        return 1;
    }
}
