#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <unordered_map>
#include <vector>

// One INI file held in memory, read and edited by the classic profile rules:
// - sections and keys compare without regard to letter case; the first of duplicate sections
//   or keys is the one that counts;
// - a value loses its surrounding blanks and then one pair of enclosing quotes (' or ");
// - lines before the first section, lines without "=" and comment lines (";" or "#") are kept
//   but are not keys;
// - edits keep everything else of the file as it was: comments, unknown lines, blank lines and
//   key order; a new key goes after the last key of its section, a new section to the end;
// - CRLF, LF and CR line ends and a UTF-8 byte order mark all read; text that is not valid
//   UTF-8 is taken as Latin-1 (files brought from Windows). Saving writes UTF-8 with the line
//   end style (and mark) the file had; LF for a new file.
// Values are returned whole: no length cut, since component configurations can be long.
class TIniDocument {
public:
    enum class TLineEnd : uint8_t { LF, CRLF, CR };

    TIniDocument();
    static TIniDocument Parse(const QByteArray& bytes);
    QByteArray Serialize() const;

    bool HasSection(const QString& section) const;
    // Section names in file order, the first of duplicates only.
    QStringList SectionNames() const;
    // Key names of the section in file order, the first of duplicates only.
    QStringList KeyNames(const QString& section) const;
    std::optional<QString> Value(const QString& section, const QString& key) const;

    // Each returns whether the document changed. A key name the format cannot hold (empty,
    // with "=", or beginning with ";", "#" or "[") is not written.
    bool SetValue(const QString& section, const QString& key, const QString& value);
    bool RemoveKey(const QString& section, const QString& key);
    // Removes every section of that name with all its lines.
    bool EraseSection(const QString& section);

    TLineEnd lineEnd() const { return LineEnd; }
    bool hasByteOrderMark() const { return ByteOrderMark; }
    bool wasLatin1() const { return Latin1; }
    // Rough size of the text held, for the cache's budget.
    qsizetype textSize() const { return TextSize; }

private:
    // Names compare without letter case; hashing and comparing fold each character on the fly,
    // so neither parsing nor a lookup allocates a folded copy.
    struct TNoCase {
        using is_transparent = void;
        size_t operator()(QStringView name) const noexcept;
        bool operator()(QStringView a, QStringView b) const noexcept;
    };
    using TNameIndex = std::unordered_map<QString, qsizetype, TNoCase, TNoCase>;

    struct TLine {
        QString Text;      // as in the file, without the line end
        qsizetype Eq = -1; // position of "=" when the line is a key, else -1
    };
    struct TSection {
        QString Name;   // trimmed name between the brackets; empty for the preamble
        QString Header; // the header line as in the file
        std::vector<TLine> Lines;
        TNameIndex Keys; // trimmed key -> index of its first line
        qsizetype LastKey = -1;
    };

    void AddLine(QString&& text);
    void IndexSection(qsizetype index);
    void RebuildSectionIndex();
    const TSection* FindSection(const QString& section) const;
    TSection* FindSection(const QString& section);

    // Sections[0] holds the lines before the first section header.
    std::vector<TSection> Sections;
    TNameIndex SectionIndex; // name -> first section
    // The last section lookup that found one. A document is therefore not for reading from
    // several threads at once (the file cache serialises its use).
    mutable QString LastQuery;
    mutable qsizetype LastFound = -1;
    TLineEnd LineEnd = TLineEnd::LF;
    bool ByteOrderMark = false;
    bool Latin1 = false;
    bool FinalLineEnd = true;
    qsizetype TextSize = 0;
};

// INI files on disk, through a process-wide cache of parsed documents keyed by absolute path
// and checked against the file's size, times and inode on every use, so reading a file value by
// value parses it once and an outside change is still seen. Relative names are taken relative
// to the current directory. Reads of a missing or unreadable file see an empty document.
// Every save is atomic (a temporary file beside it, then a rename); a failed save raises
// EIniFileError "Unable to write to <file name>" and leaves the old file as it was.
namespace zkIni {

QString AbsoluteFileName(const QString& fileName);

std::optional<QString> ReadValue(const QString& fileName, const QString& section,
                                 const QString& key);
bool SectionExists(const QString& fileName, const QString& section);
QStringList SectionNames(const QString& fileName);
QStringList SectionKeys(const QString& fileName, const QString& section);

// Outside a batch of that file each of these saves the file at once (and only when the
// document changed); inside one they change the batch's copy.
void WriteValue(const QString& fileName, const QString& section, const QString& key,
                const QString& value);
void DeleteKey(const QString& fileName, const QString& section, const QString& key);
void EraseSection(const QString& fileName, const QString& section);

// Batches: writes to the file are held in one copy of the document until the outermost
// CommitBatch saves it in one atomic replacement; RollbackBatch drops what the innermost open
// batch wrote. Reads of the file inside a batch see the held writes.
void BeginBatch(const QString& absoluteFileName);
void CommitBatch(const QString& absoluteFileName, const QString& displayName);
void RollbackBatch(const QString& absoluteFileName);

// Whole documents, for code that works on a file as one piece.
TIniDocument LoadDocument(const QString& fileName);
void SaveDocument(const QString& fileName, const TIniDocument& document);

// Files that hold secrets (Local.ini keeps proxy passwords): an existing file is made readable
// and writable by the owner alone (0600) at once, and every later save of it stays so.
void MarkPrivate(const QString& fileName);

// Drops every parsed file; the next read parses again (from the disk or from memory).
void ClearCache();
// Drops that file's parse alone.
void ClearCache(const QString& fileName);

// Fuzzing and tests: the file at that absolute path lives in memory alone. Reads take the text
// given (std::nullopt: the file is missing) and saves keep the saved text, with no system call;
// ClearCache() keeps the text. ClearMemoryFiles() ends it for every such file.
void SetMemoryFile(const QString& path, const std::optional<QByteArray>& bytes);
void ClearMemoryFiles();

} // namespace zkIni
