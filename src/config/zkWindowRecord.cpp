#include "zkWindowRecord.h"

#include "zkLayoutSettings.h"
#include "zkSettings.h"

#include "platform/zkOutsideText.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QUrl>

#include <cstdio>

namespace {

// Key names in their stored order. "StartegyConfig" is how every existing file and store
// spells it, so it stays that way.
const QString kTop = QStringLiteral("Top");
const QString kLeft = QStringLiteral("Left");
const QString kWidth = QStringLiteral("Width");
const QString kHeight = QStringLiteral("Height");
const QString kWindowState = QStringLiteral("WindowState");
const QString kFontCharset = QStringLiteral("FontCharset");
const QString kFontColor = QStringLiteral("FontColor");
const QString kFontHeight = QStringLiteral("FontHeight");
const QString kFontName = QStringLiteral("FontName");
const QString kFontPitch = QStringLiteral("FontPitch");
const QString kFontSize = QStringLiteral("FontSize");
const QString kFontBold = QStringLiteral("FontBold");
const QString kFontItalic = QStringLiteral("FontItalic");
const QString kFontUnderline = QStringLiteral("FontUnderline");
const QString kFontStrikeOut = QStringLiteral("FontStrikeOut");
const QString kDataConfig = QStringLiteral("DataConfig");
const QString kWindowConfig = QStringLiteral("WindowConfig");
const QString kWindowFileName = QStringLiteral("WindowFileName");
const QString kStrategyConfig = QStringLiteral("StartegyConfig");

uint8_t lowByte(int32_t value) {
    return static_cast<uint8_t>(value & 0xFF);
}

// Pixels per inch that point sizes are measured against; 96 without a screen.
double fontDpi() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            return screen->logicalDotsPerInchY();
    }
    return 96.0;
}

// The Windows system colour numbers, taken from the palette role that plays the same part.
QColor systemColor(int index) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return index == 5 ? QColor(Qt::white) : QColor(Qt::black);
    const QPalette pal = QGuiApplication::palette();
    switch (index) {
    case 0:
        return pal.color(QPalette::Button); // scroll bar
    case 1:
        return pal.color(QPalette::Dark); // desktop
    case 2:
        return pal.color(QPalette::Active, QPalette::Highlight); // active caption
    case 3:
        return pal.color(QPalette::Inactive, QPalette::Highlight); // inactive caption
    case 4:
        return pal.color(QPalette::Window); // menu
    case 5:
        return pal.color(QPalette::Base); // window
    case 6:
        return pal.color(QPalette::Shadow); // window frame
    case 7:
        return pal.color(QPalette::WindowText); // menu text
    case 8:
        return pal.color(QPalette::Text); // window text
    case 9:
        return pal.color(QPalette::Active, QPalette::HighlightedText); // caption text
    case 10:                                                           // active border
    case 11:
        return pal.color(QPalette::Window); // inactive border
    case 12:
        return pal.color(QPalette::Dark); // app workspace
    case 13:
        return pal.color(QPalette::Highlight);
    case 14:
        return pal.color(QPalette::HighlightedText);
    case 15:
        return pal.color(QPalette::Button); // button face
    case 16:
        return pal.color(QPalette::Dark); // button shadow
    case 17:
        return pal.color(QPalette::Disabled, QPalette::Text); // grey text
    case 18:
        return pal.color(QPalette::ButtonText); // button text
    case 19:
        return pal.color(QPalette::Inactive, QPalette::HighlightedText);
    case 20:
        return pal.color(QPalette::Light); // button highlight
    case 21:
        return pal.color(QPalette::Shadow); // 3D dark shadow
    case 22:
        return pal.color(QPalette::Midlight); // 3D light
    case 23:
        return pal.color(QPalette::ToolTipText); // info text
    case 24:
        return pal.color(QPalette::ToolTipBase); // info background
    case 26:
        return pal.color(QPalette::Link); // hot light
    case 27:
        return pal.color(QPalette::Active, QPalette::Highlight); // gradient active
    case 28:
        return pal.color(QPalette::Inactive, QPalette::Highlight); // gradient inactive
    case 29:
        return pal.color(QPalette::Highlight); // menu highlight
    case 25:
    case 30:
        return pal.color(QPalette::Window); // menu bar
    default:
        return QColor(Qt::black); // no such colour: black, as Windows answers
    }
}

// A value of the data configuration's query text as the alert component reads it.
QString DecodedQueryValue(QString value) {
    value.replace(QLatin1Char('+'), QLatin1Char(' '));
    return QUrl::fromPercentEncoding(value.toUtf8());
}

void WarnUnfitName(const QString& what, const QString& problem) {
    std::fprintf(stderr, "velquist: a window file or layout gives %s that %s; it is not taken\n",
                 qPrintable(what), qPrintable(problem));
}

// The data configuration without a window name or symbols that could not be names: a name
// that holds a character that does not show (a right-to-left override, a variation selector, a
// blank look-alike) would caption the window as another name or look like another window.
QString WithFitNames(const QString& dataConfig) {
    QStringList pairs = dataConfig.split(QLatin1Char('&'));
    bool changed = false;
    for (qsizetype i = 0; i < pairs.size(); ++i) {
        const qsizetype eq = pairs[i].indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QStringView key = QStringView(pairs[i]).first(eq);
        const QString value = DecodedQueryValue(pairs[i].mid(eq + 1));
        if (key == QLatin1String("WN")) {
            if (const QString problem = zkOutsideText::NameProblem(value); !problem.isEmpty()) {
                WarnUnfitName(QStringLiteral("a window name"), problem);
                pairs.removeAt(i--);
                changed = true;
            }
        } else if (key == QLatin1String("S")) {
            QStringList symbols = value.split(QLatin1Char(','));
            const qsizetype before = symbols.size();
            symbols.removeIf([](const QString& symbol) {
                const QString problem = zkOutsideText::NameProblem(symbol.trimmed());
                if (!problem.isEmpty())
                    WarnUnfitName(QStringLiteral("a symbol"), problem);
                return !problem.isEmpty();
            });
            if (symbols.size() != before) {
                pairs[i] = QStringLiteral("S=") +
                           QString::fromLatin1(QUrl::toPercentEncoding(symbols.join(u','), ","));
                changed = true;
            }
        }
    }
    return changed ? pairs.join(QLatin1Char('&')) : dataConfig;
}

} // namespace

QString AlertWindowSectionName() {
    return QStringLiteral("AlertWindow");
}

QString DefaultWindowFileName() {
    return SavedWindowsDir() + QLatin1Char('/') + QLatin1String(DefaultWindowFile());
}

void EnsureSavedWindowsDir() {
    QDir().mkpath(SavedWindowsDir());
}

bool HasAlertWindowSection(const QString& fileName) {
    return QFileInfo(fileName).isFile() &&
           SectionExists(TSettingsStore::IniFile(fileName), AlertWindowSectionName());
}

TLayoutInfo& DefaultWindowRecord() {
    static TLayoutInfo record;
    return record;
}

void SetDefaultWindowRecord() {
    TLayoutInfo& r = DefaultWindowRecord();
    r.Top = 20;
    r.Left = 20;
    r.Width = 675;
    r.Height = 335;
    r.WindowState = 0;
    r.FontCharset = 1;
    r.FontColor = static_cast<int32_t>(0xFF000008u); // the window text colour
    r.FontHeight = -12;
    r.FontName = QStringLiteral("Verdana");
    r.FontPitch = 0;
    r.FontSize = 9;
    r.FontBold = false;
    r.FontItalic = false;
    r.FontUnderline = false;
    r.FontStrikeOut = false;
    r.DataConfig = QStringLiteral("O=3_3D_0&WN=High%2fLow+Ticker");
    r.WindowConfig =
        QStringLiteral("C,9,1,40,2,42,3,37,4,277,5,53,6,51,9,43,11,58,10,48,0,1,21,33");
    r.WindowFileName.clear();
    r.StrategyConfig.clear();
    r.Quiet = TQuietSettings();
}

void LoadDefaultWindowRecord() {
    EnsureSavedWindowsDir();
    const QString fileName = DefaultWindowFileName();
    if (HasAlertWindowSection(fileName))
        ReadWindowRecord(TSettingsStore::IniFile(fileName), AlertWindowSectionName(),
                         DefaultWindowRecord());
}

void ReadWindowRecord(const TSettingsStore& store, const QString& path, TLayoutInfo& record) {
    // A copy, since the record being read may be the default record itself.
    const TLayoutInfo d = DefaultWindowRecord();
    record.Top = ReadIntegerValue(store, path, kTop, d.Top);
    record.Left = ReadIntegerValue(store, path, kLeft, d.Left);
    record.Width = ReadIntegerValue(store, path, kWidth, d.Width);
    record.Height = ReadIntegerValue(store, path, kHeight, d.Height);
    record.WindowState = lowByte(ReadIntegerValue(store, path, kWindowState, d.WindowState));
    record.FontCharset = lowByte(ReadIntegerValue(store, path, kFontCharset, d.FontCharset));
    record.FontColor = ReadIntegerValue(store, path, kFontColor, d.FontColor);
    record.FontHeight = ReadIntegerValue(store, path, kFontHeight, d.FontHeight);
    record.FontName = ReadStringValue(store, path, kFontName, d.FontName);
    record.FontPitch = lowByte(ReadIntegerValue(store, path, kFontPitch, d.FontPitch));
    record.FontSize = ReadIntegerValue(store, path, kFontSize, d.FontSize);
    record.FontBold = ReadBoolValue(store, path, kFontBold, d.FontBold);
    record.FontItalic = ReadBoolValue(store, path, kFontItalic, d.FontItalic);
    record.FontUnderline = ReadBoolValue(store, path, kFontUnderline, d.FontUnderline);
    record.FontStrikeOut = ReadBoolValue(store, path, kFontStrikeOut, d.FontStrikeOut);
    record.DataConfig = WithFitNames(ReadStringValue(store, path, kDataConfig, d.DataConfig));
    record.WindowConfig = ReadStringValue(store, path, kWindowConfig, d.WindowConfig);
    record.WindowFileName = ReadStringValue(store, path, kWindowFileName, d.WindowFileName);
    record.StrategyConfig = ReadStringValue(store, path, kStrategyConfig, d.StrategyConfig);
    record.KeepRules = ReadKeepRules(store, path);
    ReadQuietSettings(store, path, record.Quiet);
}

void WriteWindowRecord(const TSettingsStore& store, const QString& path, const TLayoutInfo& record,
                       bool includeFileName) {
    WriteIntegerValue(store, path, kTop, record.Top);
    WriteIntegerValue(store, path, kLeft, record.Left);
    WriteIntegerValue(store, path, kWidth, record.Width);
    WriteIntegerValue(store, path, kHeight, record.Height);
    WriteIntegerValue(store, path, kWindowState, record.WindowState);
    WriteIntegerValue(store, path, kFontCharset, record.FontCharset);
    WriteIntegerValue(store, path, kFontColor, record.FontColor);
    WriteIntegerValue(store, path, kFontHeight, record.FontHeight);
    WriteStringValue(store, path, kFontName, record.FontName);
    WriteIntegerValue(store, path, kFontPitch, record.FontPitch);
    WriteIntegerValue(store, path, kFontSize, record.FontSize);
    WriteBoolValue(store, path, kFontBold, record.FontBold);
    WriteBoolValue(store, path, kFontItalic, record.FontItalic);
    WriteBoolValue(store, path, kFontUnderline, record.FontUnderline);
    WriteBoolValue(store, path, kFontStrikeOut, record.FontStrikeOut);
    WriteStringValue(store, path, kDataConfig, record.DataConfig);
    WriteStringValue(store, path, kWindowConfig, record.WindowConfig);
    if (includeFileName)
        WriteStringValue(store, path, kWindowFileName, record.WindowFileName);
    WriteStringValue(store, path, kStrategyConfig, record.StrategyConfig);
    WriteKeepRules(store, path, record.KeepRules);
    WriteQuietSettings(store, path, record.Quiet);
}

QFont ApplyRecordFont(QFont font, const TLayoutInfo& record) {
    if (record.FontHeight != 0)
        font.setPixelSize(qAbs(record.FontHeight));
    if (!record.FontName.isEmpty())
        font.setFamily(record.FontName);
    if (record.FontPitch == 2) {
        font.setFixedPitch(true);
        font.setStyleHint(QFont::TypeWriter);
    } else if (record.FontPitch == 1) {
        font.setFixedPitch(false);
    }
    if (record.FontSize > 0)
        font.setPointSize(record.FontSize);
    if (record.FontBold)
        font.setBold(true);
    if (record.FontItalic)
        font.setItalic(true);
    if (record.FontUnderline)
        font.setUnderline(true);
    if (record.FontStrikeOut)
        font.setStrikeOut(true);
    return font;
}

void StoreFontInRecord(const QFont& font, TLayoutInfo& record) {
    const double dpi = fontDpi();
    if (font.pointSizeF() > 0) {
        record.FontSize = qRound(font.pointSizeF());
        record.FontHeight = -qRound(font.pointSizeF() * dpi / 72.0);
    } else if (font.pixelSize() > 0) {
        record.FontHeight = -font.pixelSize();
        record.FontSize = qRound(font.pixelSize() * 72.0 / dpi);
    }
    record.FontName = font.family();
    if (font.fixedPitch())
        record.FontPitch = 2;
    else if (record.FontPitch == 2)
        record.FontPitch = 0;
    record.FontBold = font.bold();
    record.FontItalic = font.italic();
    record.FontUnderline = font.underline();
    record.FontStrikeOut = font.strikeOut();
}

QColor ColorFromFontColor(int32_t value) {
    if (value < 0)
        return systemColor(value & 0xFF);
    const auto u = static_cast<uint32_t>(value);
    return QColor(int(u & 0xFF), int((u >> 8) & 0xFF), int((u >> 16) & 0xFF));
}

int32_t FontColorFromColor(const QColor& color, int32_t previous) {
    if (!color.isValid())
        return previous;
    if (ColorFromFontColor(previous).rgb() == color.rgb())
        return previous;
    return static_cast<int32_t>(uint32_t(color.red()) | (uint32_t(color.green()) << 8) |
                                (uint32_t(color.blue()) << 16));
}
