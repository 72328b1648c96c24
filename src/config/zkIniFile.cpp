#include "zkIniFile.h"

#include "platform/zkAtomicFile.h"
#include "platform/zkErrors.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSet>
#include <QStringDecoder>

#include <array>
#include <cerrno>
#include <memory>
#include <sys/stat.h>

namespace {

// Section and key names count without their surrounding blanks.
QStringView Name(QStringView text) {
    return text.trimmed();
}

bool IsBlank(QStringView text) {
    return text.trimmed().isEmpty();
}

// A line end inside a name or value would split it into two lines of the file.
QString OneLine(const QString& text) {
    if (!text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString line = text;
    line.replace(u'\r', u' ').replace(u'\n', u' ');
    return line;
}

bool IsQuote(QChar c) {
    return c == u'"' || c == u'\'';
}

// Reading trims blanks and strips one pair of quotes, so a value that would lose something
// that way is written inside quotes.
QString EncodeValue(const QString& value) {
    const QString line = OneLine(value);
    if (line.isEmpty())
        return line;
    const bool blankEdge = line.front().isSpace() || line.back().isSpace();
    const bool quoted = line.size() >= 2 && IsQuote(line.front()) && line.back() == line.front();
    if (blankEdge || quoted)
        return u'"' + line + u'"';
    return line;
}

QStringView RawValue(const QString& text, qsizetype eq) {
    return QStringView(text).mid(eq + 1).trimmed();
}

QStringView Unquoted(QStringView value) {
    if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

// Names are nearly always ASCII: a table folds them with one comparison a character, which
// every lookup of a section or key makes for each character of the name.
constexpr auto AsciiFold = [] {
    std::array<char16_t, 128> table{};
    for (char16_t c = 0; c < 128; ++c)
        table[c] = c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
    return table;
}();

// Name hashing and comparing run for every character of every lookup and have no branch worth
// a fuzzer's attention; under coverage instrumentation they cost a third of a layout read.
#if defined(__clang__)
#define ZK_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define ZK_NO_COVERAGE
#endif

// Raw element access: an optimised build makes the same code of it, and an instrumented one
// does not call out (and trace) for every character.
ZK_NO_COVERAGE inline char16_t FoldUnit(char16_t c) {
    return c < 0x80 ? AsciiFold.data()[c] : QChar::toCaseFolded(c);
}

} // namespace

ZK_NO_COVERAGE size_t TIniDocument::TNoCase::operator()(QStringView name) const noexcept {
    size_t hash = 14695981039346656037ull;
    const char16_t* c = name.utf16();
    for (const char16_t* end = c + name.size(); c != end; ++c)
        hash = (hash ^ FoldUnit(*c)) * 1099511628211ull;
    return hash;
}

ZK_NO_COVERAGE bool TIniDocument::TNoCase::operator()(QStringView a, QStringView b) const noexcept {
    if (a.size() != b.size())
        return false;
    const char16_t* x = a.utf16();
    const char16_t* y = b.utf16();
    for (qsizetype i = 0, n = a.size(); i < n; ++i)
        if (x[i] != y[i] && FoldUnit(x[i]) != FoldUnit(y[i]))
            return false;
    return true;
}

TIniDocument::TIniDocument() {
    Sections.emplace_back();
}

void TIniDocument::AddLine(QString&& text) {
    TextSize += text.size() + 1;
    const QStringView view(text);
    qsizetype first = 0;
    while (first < view.size() && view[first].isSpace())
        ++first;
    if (first < view.size() && view[first] == u'[') {
        const qsizetype close = view.lastIndexOf(u']');
        if (close > first) {
            TSection& section = Sections.emplace_back();
            section.Name = view.mid(first + 1, close - first - 1).trimmed().toString();
            section.Header = std::move(text);
            SectionIndex.try_emplace(section.Name, qsizetype(Sections.size() - 1));
            return;
        }
    }
    TSection& section = Sections.back();
    TLine line{std::move(text), -1};
    // Lines before the first section are never keys.
    const bool inSection = Sections.size() > 1;
    if (inSection && first < view.size() && view[first] != u';' && view[first] != u'#') {
        const qsizetype eq = line.Text.indexOf(u'=', first);
        if (eq > first && !IsBlank(QStringView(line.Text).mid(first, eq - first)))
            line.Eq = eq;
    }
    const qsizetype index = qsizetype(section.Lines.size());
    if (line.Eq >= 0) {
        section.Keys.try_emplace(Name(QStringView(line.Text).left(line.Eq)).toString(), index);
        section.LastKey = index;
    }
    section.Lines.push_back(std::move(line));
}

TIniDocument TIniDocument::Parse(const QByteArray& bytes) {
    TIniDocument doc;
    QByteArrayView data(bytes);
    if (data.startsWith("\xEF\xBB\xBF")) {
        doc.ByteOrderMark = true;
        data = data.sliced(3);
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(data);
    if (decoder.hasError()) {
        doc.Latin1 = true;
        text = QString::fromLatin1(data);
    }

    const QChar* chars = text.constData();
    const qsizetype size = text.size();
    bool endSeen = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = chars[i].unicode();
        if (c != u'\n' && c != u'\r')
            continue;
        const bool crlf = c == u'\r' && i + 1 < size && chars[i + 1] == u'\n';
        if (!endSeen) {
            doc.LineEnd = c == u'\n' ? TLineEnd::LF : crlf ? TLineEnd::CRLF : TLineEnd::CR;
            endSeen = true;
        }
        doc.AddLine(text.mid(start, i - start));
        if (crlf)
            ++i;
        start = i + 1;
    }
    doc.FinalLineEnd = start >= size;
    if (start < size)
        doc.AddLine(text.mid(start));
    return doc;
}

QByteArray TIniDocument::Serialize() const {
    const QString eol = LineEnd == TLineEnd::CRLF ? QStringLiteral("\r\n")
                        : LineEnd == TLineEnd::CR ? QStringLiteral("\r")
                                                  : QStringLiteral("\n");
    QString text;
    text.reserve(TextSize + TextSize / 16 + 64);
    bool first = true;
    auto put = [&](const QString& line) {
        if (!first)
            text += eol;
        text += line;
        first = false;
    };
    for (size_t s = 0; s < Sections.size(); ++s) {
        if (s > 0)
            put(Sections[s].Header);
        for (const TLine& line : Sections[s].Lines)
            put(line.Text);
    }
    if (!first && FinalLineEnd)
        text += eol;
    QByteArray bytes;
    if (ByteOrderMark)
        bytes = QByteArrayLiteral("\xEF\xBB\xBF");
    bytes += text.toUtf8();
    return bytes;
}

const TIniDocument::TSection* TIniDocument::FindSection(const QString& section) const {
    // A record is read value by value from one section: the last section found is tried first.
    if (LastFound >= 0 && section == LastQuery)
        return &Sections[size_t(LastFound)];
    const auto it = SectionIndex.find(Name(section));
    if (it == SectionIndex.end())
        return nullptr;
    LastQuery = section;
    LastFound = it->second;
    return &Sections[size_t(it->second)];
}

TIniDocument::TSection* TIniDocument::FindSection(const QString& section) {
    return const_cast<TSection*>(std::as_const(*this).FindSection(section));
}

bool TIniDocument::HasSection(const QString& section) const {
    return FindSection(section) != nullptr;
}

QStringList TIniDocument::SectionNames() const {
    QStringList names;
    for (size_t s = 1; s < Sections.size(); ++s)
        if (SectionIndex.find(QStringView(Sections[s].Name))->second == qsizetype(s))
            names.append(Sections[s].Name);
    return names;
}

QStringList TIniDocument::KeyNames(const QString& section) const {
    QStringList names;
    const TSection* found = FindSection(section);
    if (!found)
        return names;
    for (qsizetype i = 0; i <= found->LastKey; ++i) {
        const TLine& line = found->Lines[size_t(i)];
        if (line.Eq < 0)
            continue;
        const QStringView key = QStringView(line.Text).left(line.Eq).trimmed();
        if (found->Keys.find(key)->second == i)
            names.append(key.toString());
    }
    return names;
}

std::optional<QString> TIniDocument::Value(const QString& section, const QString& key) const {
    const TSection* found = FindSection(section);
    if (!found)
        return std::nullopt;
    const auto it = found->Keys.find(Name(key));
    if (it == found->Keys.end())
        return std::nullopt;
    const TLine& line = found->Lines[size_t(it->second)];
    return Unquoted(RawValue(line.Text, line.Eq)).toString();
}

bool TIniDocument::SetValue(const QString& section, const QString& key, const QString& value) {
    // A name the format cannot hold would read back as another key or as none at all, and
    // every later write would add it again. (No key of the document has such a name.)
    const QString name = OneLine(key).trimmed();
    if (name.isEmpty() || name.contains(u'=') || name.front() == u';' || name.front() == u'#' ||
        name.front() == u'[')
        return false;
    TSection* target = FindSection(section);
    if (!target) {
        // A blank line keeps the new section apart from whatever the file ended with.
        TSection& last = Sections.back();
        const bool hasText = Sections.size() > 1 || !last.Lines.empty();
        if (hasText && (last.Lines.empty() ? true : !IsBlank(last.Lines.back().Text)))
            last.Lines.push_back(TLine{QString(), -1});
        TSection& added = Sections.emplace_back();
        added.Name = OneLine(section).trimmed();
        added.Header = u'[' + added.Name + u']';
        SectionIndex.try_emplace(added.Name, qsizetype(Sections.size() - 1));
        target = &added;
    }

    const auto it = target->Keys.find(QStringView(name));
    if (it != target->Keys.end()) {
        TLine& line = target->Lines[size_t(it->second)];
        // Keep everything up to the value: the key's spelling, blanks around "=", and the
        // quotes the value had.
        qsizetype valueStart = line.Eq + 1;
        while (valueStart < line.Text.size() && line.Text[valueStart].isSpace())
            ++valueStart;
        const QStringView old = RawValue(line.Text, line.Eq);
        const bool wasQuoted = Unquoted(old).size() != old.size();
        QString text = line.Text.left(valueStart);
        if (wasQuoted)
            text += old.front() + OneLine(value) + old.front();
        else
            text += EncodeValue(value);
        if (text == line.Text)
            return false;
        TextSize += text.size() - line.Text.size();
        line.Text = std::move(text);
        return true;
    }

    TLine line{name + u'=' + EncodeValue(value), name.size()};
    qsizetype at = target->LastKey + 1;
    if (target->LastKey < 0) {
        // No key yet: after the header's comments, before the blank lines that end it.
        at = qsizetype(target->Lines.size());
        while (at > 0 && IsBlank(target->Lines[size_t(at - 1)].Text))
            --at;
    }
    TextSize += line.Text.size() + 1;
    target->Lines.insert(target->Lines.begin() + at, std::move(line));
    target->Keys.try_emplace(name, at);
    target->LastKey = at;
    if (target == &Sections.back() && at == qsizetype(target->Lines.size()) - 1)
        FinalLineEnd = true;
    return true;
}

void TIniDocument::IndexSection(qsizetype index) {
    TSection& section = Sections[size_t(index)];
    section.Keys.clear();
    section.LastKey = -1;
    for (qsizetype i = 0; i < qsizetype(section.Lines.size()); ++i) {
        const TLine& line = section.Lines[size_t(i)];
        if (line.Eq < 0)
            continue;
        section.Keys.try_emplace(Name(QStringView(line.Text).left(line.Eq)).toString(), i);
        section.LastKey = i;
    }
}

bool TIniDocument::RemoveKey(const QString& section, const QString& key) {
    TSection* target = FindSection(section);
    if (!target)
        return false;
    const auto it = target->Keys.find(Name(key));
    if (it == target->Keys.end())
        return false;
    target->Lines.erase(target->Lines.begin() + it->second);
    IndexSection(target - Sections.data());
    return true;
}

void TIniDocument::RebuildSectionIndex() {
    LastFound = -1;
    SectionIndex.clear();
    for (size_t s = 1; s < Sections.size(); ++s)
        SectionIndex.try_emplace(Sections[s].Name, qsizetype(s));
}

bool TIniDocument::EraseSection(const QString& section) {
    if (!FindSection(section))
        return false;
    const QStringView name = Name(section);
    std::vector<TSection> kept;
    kept.reserve(Sections.size());
    for (size_t s = 0; s < Sections.size(); ++s)
        if (s == 0 || !TNoCase()(Sections[s].Name, name))
            kept.push_back(std::move(Sections[s]));
    Sections = std::move(kept);
    RebuildSectionIndex();
    return true;
}

// ---------------------------------------------------------------------------------------------

namespace zkIni {

namespace {

struct TStamp {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    timespec Modified{};
    timespec Changed{};
    bool operator==(const TStamp& other) const {
        return Device == other.Device && Inode == other.Inode && Size == other.Size &&
               Modified.tv_sec == other.Modified.tv_sec &&
               Modified.tv_nsec == other.Modified.tv_nsec &&
               Changed.tv_sec == other.Changed.tv_sec && Changed.tv_nsec == other.Changed.tv_nsec;
    }
};

enum class TFileState { Missing, Present, Unreadable };

TFileState StatFile(const QByteArray& encoded, TStamp& stamp) {
    struct stat info {};
    if (::stat(encoded.constData(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? TFileState::Missing : TFileState::Unreadable;
    if (!S_ISREG(info.st_mode))
        return TFileState::Unreadable;
    stamp.Device = info.st_dev;
    stamp.Inode = info.st_ino;
    stamp.Size = info.st_size;
    stamp.Modified = info.st_mtim;
    stamp.Changed = info.st_ctim;
    return TFileState::Present;
}

struct TCached {
    QByteArray Encoded; // the name for system calls
    std::shared_ptr<TIniDocument> Document;
    TStamp Stamp;
    quint64 LastUse = 0;
    bool InMemory = false; // a file of SetMemoryFile: never compared with the disk
};

struct TBatch {
    TIniDocument Document;
    std::vector<TIniDocument> Outer; // the document as each inner batch found it
    bool Unreadable = false;
    bool Dirty = false;
};

// Bounds on what the cache keeps; the file in use is always kept.
constexpr qsizetype MaxCachedFiles = 64;
constexpr qsizetype MaxCachedText = 32 * 1024 * 1024; // characters

struct TCache {
    QMutex Lock;
    QHash<QString, TCached> Files;
    QHash<QString, TBatch> Batches;
    QSet<QString> PrivateFiles; // absolute paths saved readable by the owner alone
    QHash<QString, std::optional<QByteArray>> MemoryFiles; // see SetMemoryFile
    quint64 Clock = 0;
};

TCache& Cache() {
    static TCache cache;
    return cache;
}

const TIniDocument& EmptyDocument() {
    static const TIniDocument empty;
    return empty;
}

[[noreturn]] void RaiseWriteError(const QString& displayName) {
    throw EIniFileError(QStringLiteral("Unable to write to %1").arg(displayName));
}

void Evict(TCache& cache, const QString& keep) {
    qsizetype text = 0;
    for (const TCached& cached : std::as_const(cache.Files))
        text += cached.Document->textSize();
    while (cache.Files.size() > 1 &&
           (cache.Files.size() > MaxCachedFiles || text > MaxCachedText)) {
        auto oldest = cache.Files.end();
        for (auto it = cache.Files.begin(); it != cache.Files.end(); ++it)
            if (it.key() != keep && (oldest == cache.Files.end() || it->LastUse < oldest->LastUse))
                oldest = it;
        if (oldest == cache.Files.end())
            break;
        text -= oldest->Document->textSize();
        cache.Files.erase(oldest);
    }
}

// The cached parse of a file that exists, brought up to date; nullptr when the file is missing
// or cannot be read (state tells which). Call with the lock held.
TIniDocument* Loaded(TCache& cache, const QString& path, TFileState& state) {
    auto it = cache.Files.find(path);
    if (it != cache.Files.end() && it->InMemory) {
        state = TFileState::Present;
        it->LastUse = ++cache.Clock;
        return it->Document.get();
    }
    const auto memory = cache.MemoryFiles.constFind(path);
    if (memory != cache.MemoryFiles.cend()) {
        if (!*memory) {
            state = TFileState::Missing;
            cache.Files.remove(path);
            return nullptr;
        }
        state = TFileState::Present;
        TCached& cached = cache.Files[path];
        cached.Document = std::make_shared<TIniDocument>(TIniDocument::Parse(**memory));
        cached.InMemory = true;
        cached.LastUse = ++cache.Clock;
        return cached.Document.get();
    }
    const QByteArray encoded = it != cache.Files.end() ? it->Encoded : QFile::encodeName(path);
    TStamp stamp;
    state = StatFile(encoded, stamp);
    if (state != TFileState::Present) {
        cache.Files.remove(path);
        return nullptr;
    }
    if (it != cache.Files.end() && it->Stamp == stamp) {
        it->LastUse = ++cache.Clock;
        return it->Document.get();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        cache.Files.remove(path);
        state = TFileState::Unreadable;
        return nullptr;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        cache.Files.remove(path);
        state = TFileState::Unreadable;
        return nullptr;
    }
    // The stamp taken before reading: if the file changed meanwhile, the next use parses again.
    TCached& cached = cache.Files[path];
    cached.Encoded = encoded;
    cached.Document = std::make_shared<TIniDocument>(TIniDocument::Parse(bytes));
    cached.Stamp = stamp;
    cached.LastUse = ++cache.Clock;
    TIniDocument* document = cached.Document.get();
    Evict(cache, path);
    return document;
}

// The document reads of a file see: its batch's copy, else the file's current content.
const TIniDocument& Current(TCache& cache, const QString& path) {
    const auto batch = cache.Batches.constFind(path);
    if (batch != cache.Batches.cend())
        return batch->Document;
    TFileState state;
    const TIniDocument* document = Loaded(cache, path, state);
    return document ? *document : EmptyDocument();
}

// Saves atomically and keeps the saved document as the file's cached parse. Lock held.
void Save(TCache& cache, const QString& path, const QString& displayName,
          std::shared_ptr<TIniDocument> document) {
    const QByteArray bytes = document->Serialize();
    const auto memory = cache.MemoryFiles.find(path);
    if (memory != cache.MemoryFiles.end()) {
        *memory = bytes;
        TCached& cached = cache.Files[path];
        cached.Document = std::move(document);
        cached.InMemory = true;
        cached.LastUse = ++cache.Clock;
        return;
    }
    // Set on the new file before it takes the old one's place, so a secret is never readable
    // by others, whatever the old file allowed. A file that holds these bytes already is left
    // as it is: saving what did not change (the start-up layout at every start, say) then
    // costs no flush to the disk.
    const bool ownerOnly = cache.PrivateFiles.contains(path);
    const bool saved =
        zkAtomicFile::AlreadyHolds(path, bytes, ownerOnly) ||
        (ownerOnly ? zkAtomicFile::WritePrivate(path, bytes) : zkAtomicFile::Write(path, bytes));
    if (!saved) {
        cache.Files.remove(path);
        RaiseWriteError(displayName);
    }
    TStamp stamp;
    const QByteArray encoded = QFile::encodeName(path);
    if (StatFile(encoded, stamp) != TFileState::Present) {
        cache.Files.remove(path);
        return;
    }
    TCached& cached = cache.Files[path];
    cached.Encoded = encoded;
    cached.Document = std::move(document);
    cached.Stamp = stamp;
    cached.LastUse = ++cache.Clock;
    Evict(cache, path);
}

// Applies an edit: to the batch's copy when the file is in a batch, else to the file at once.
template <typename F> void Edit(const QString& fileName, F&& edit) {
    const QString path = AbsoluteFileName(fileName);
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    const auto batch = cache.Batches.find(path);
    if (batch != cache.Batches.end()) {
        if (edit(batch->Document))
            batch->Dirty = true;
        return;
    }
    TFileState state;
    TIniDocument* loaded = Loaded(cache, path, state);
    // Never replace a file whose content could not be read: that would lose it.
    if (state == TFileState::Unreadable)
        RaiseWriteError(fileName);
    auto document =
        loaded ? std::make_shared<TIniDocument>(*loaded) : std::make_shared<TIniDocument>();
    if (!edit(*document))
        return;
    Save(cache, path, fileName, std::move(document));
}

} // namespace

ZK_NO_COVERAGE QString AbsoluteFileName(const QString& fileName) {
    if (!fileName.startsWith(u'/'))
        return QDir::cleanPath(QDir::currentPath() + u'/' + fileName);
    // Called on every read: a name that is already clean (no "//", no "/." and no "/" at the
    // end) is taken as it is.
    const QChar* c = fileName.constData();
    const qsizetype size = fileName.size();
    for (qsizetype i = 0; i < size; ++i)
        if (c[i] == u'/' && (i + 1 == size ? size > 1 : c[i + 1] == u'/' || c[i + 1] == u'.'))
            return QDir::cleanPath(fileName);
    return fileName;
}

std::optional<QString> ReadValue(const QString& fileName, const QString& section,
                                 const QString& key) {
    const QString path = AbsoluteFileName(fileName);
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    return Current(cache, path).Value(section, key);
}

bool SectionExists(const QString& fileName, const QString& section) {
    const QString path = AbsoluteFileName(fileName);
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    return Current(cache, path).HasSection(section);
}

QStringList SectionNames(const QString& fileName) {
    const QString path = AbsoluteFileName(fileName);
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    return Current(cache, path).SectionNames();
}

QStringList SectionKeys(const QString& fileName, const QString& section) {
    const QString path = AbsoluteFileName(fileName);
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    return Current(cache, path).KeyNames(section);
}

TIniDocument LoadDocument(const QString& fileName) {
    const QString path = AbsoluteFileName(fileName);
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    return Current(cache, path);
}

void WriteValue(const QString& fileName, const QString& section, const QString& key,
                const QString& value) {
    Edit(fileName, [&](TIniDocument& document) { return document.SetValue(section, key, value); });
}

void DeleteKey(const QString& fileName, const QString& section, const QString& key) {
    Edit(fileName, [&](TIniDocument& document) { return document.RemoveKey(section, key); });
}

void EraseSection(const QString& fileName, const QString& section) {
    Edit(fileName, [&](TIniDocument& document) { return document.EraseSection(section); });
}

void SaveDocument(const QString& fileName, const TIniDocument& document) {
    Edit(fileName, [&](TIniDocument& target) {
        target = document;
        return true;
    });
}

void BeginBatch(const QString& absoluteFileName) {
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    const auto open = cache.Batches.find(absoluteFileName);
    if (open != cache.Batches.end()) {
        open->Outer.push_back(open->Document);
        return;
    }
    TFileState state;
    const TIniDocument* loaded = Loaded(cache, absoluteFileName, state);
    TBatch batch;
    if (loaded)
        batch.Document = *loaded;
    batch.Unreadable = state == TFileState::Unreadable;
    cache.Batches.insert(absoluteFileName, std::move(batch));
}

void CommitBatch(const QString& absoluteFileName, const QString& displayName) {
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    const auto open = cache.Batches.find(absoluteFileName);
    if (open == cache.Batches.end())
        return;
    if (!open->Outer.empty()) {
        open->Outer.pop_back();
        return;
    }
    TBatch batch = std::move(*open);
    cache.Batches.erase(open);
    if (!batch.Dirty)
        return;
    if (batch.Unreadable)
        RaiseWriteError(displayName);
    Save(cache, absoluteFileName, displayName,
         std::make_shared<TIniDocument>(std::move(batch.Document)));
}

void RollbackBatch(const QString& absoluteFileName) {
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    const auto open = cache.Batches.find(absoluteFileName);
    if (open == cache.Batches.end())
        return;
    if (open->Outer.empty()) {
        cache.Batches.erase(open);
        return;
    }
    open->Document = std::move(open->Outer.back());
    open->Outer.pop_back();
}

void MarkPrivate(const QString& fileName) {
    const QString path = AbsoluteFileName(fileName);
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    cache.PrivateFiles.insert(path);
    // An existing file is closed at once too, even if nothing is written to it again.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void ClearCache() {
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    cache.Files.clear();
}

void ClearCache(const QString& fileName) {
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    cache.Files.remove(AbsoluteFileName(fileName));
}

void SetMemoryFile(const QString& path, const std::optional<QByteArray>& bytes) {
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    cache.MemoryFiles.insert(path, bytes);
    cache.Files.remove(path);
}

void ClearMemoryFiles() {
    TCache& cache = Cache();
    QMutexLocker locker(&cache.Lock);
    for (auto it = cache.MemoryFiles.cbegin(); it != cache.MemoryFiles.cend(); ++it)
        cache.Files.remove(it.key());
    cache.MemoryFiles.clear();
}

} // namespace zkIni
