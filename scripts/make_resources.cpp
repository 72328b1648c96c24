// Draws the client's splash picture and icon: resources/splash.bmp and resources/velquist.ico.
// Built and run by make_resources.sh; that output is committed, so builds never redraw it.
// The build runs two cheaper modes of the same program:
//   make_resources --sounds DIR          the starter wave files of a new installation
//   make_resources --icon-pngs ICO DIR   DIR/<n>x<n>/apps/velquist.png for each size in ICO

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtEndian>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Little-endian integers, as icon and wave files store them.
void putLE16(QByteArray& out, quint16 v) {
    v = qToLittleEndian(v);
    out.append(reinterpret_cast<const char*>(&v), 2);
}

void putLE32(QByteArray& out, quint32 v) {
    v = qToLittleEndian(v);
    out.append(reinterpret_cast<const char*>(&v), 4);
}

// Palette of the mark: deep navy to teal, with a mint accent.
const QColor Navy(0x0d, 0x23, 0x3f);
const QColor Ocean(0x12, 0x4a, 0x66);
const QColor Mint(0x3d, 0xdc, 0x97);
const QColor Teal(0x11, 0x9a, 0x8f);
const QColor Paper(0xf4, 0xf8, 0xfb);
const QColor Mist(0x9f, 0xc3, 0xd8);

QString pickFamily(const QStringList& wanted) {
    const QStringList families = QFontDatabase::families();
    // Installed families may carry their foundry: "Nimbus Sans [urw]".
    for (const QString& family : wanted)
        for (const QString& installed : families)
            if (installed == family || installed.startsWith(family + QStringLiteral(" [")))
                return installed;
    return QStringLiteral("Sans Serif");
}

// A bell filling `box`. Built at its final size, so its curves are flattened finely enough.
void drawBell(QPainter& p, const QRectF& box, const QColor& color) {
    const auto at = [&](double x, double y) {
        return QPointF(box.x() + x * box.width(), box.y() + y * box.height());
    };
    QPainterPath bell;
    bell.moveTo(at(0.15, 0.74));
    bell.cubicTo(at(0.24, 0.67), at(0.27, 0.60), at(0.27, 0.47));
    bell.cubicTo(at(0.27, 0.31), at(0.37, 0.21), at(0.50, 0.21));
    bell.cubicTo(at(0.63, 0.21), at(0.73, 0.31), at(0.73, 0.47));
    bell.cubicTo(at(0.73, 0.60), at(0.76, 0.67), at(0.85, 0.74));
    bell.closeSubpath();
    const double unit = qMin(box.width(), box.height());
    bell.addEllipse(at(0.50, 0.17), 0.06 * unit, 0.06 * unit);
    bell.addEllipse(at(0.50, 0.80), 0.09 * unit, 0.09 * unit);
    bell.setFillRule(Qt::WindingFill);
    p.fillPath(bell, color);
}

// --- the splash ------------------------------------------------------------------------------

QImage drawSplash() {
    const QSize size(480, 300);
    const QRectF card(12, 44, 456, 244);
    const QPointF badgeCentre(88, 74);
    const double badgeRadius = 52;

    QPainterPath shape;
    shape.addRoundedRect(card, 26, 26);
    QPainterPath badge;
    badge.addEllipse(badgeCentre, badgeRadius, badgeRadius);
    shape = shape.united(badge);

    // Everything inside the shape is painted on an opaque card colour, so no pixel of the
    // artwork is ever blended with the white that the splash cuts out.
    QImage art(size, QImage::Format_RGB32);
    art.fill(Navy);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient face(card.topLeft(), card.bottomRight());
    face.setColorAt(0, Navy);
    face.setColorAt(1, Ocean);
    p.fillRect(art.rect(), face);

    // Faint price grid.
    p.setPen(QPen(QColor(255, 255, 255, 16), 1));
    for (int y = 180; y <= 264; y += 21)
        p.drawLine(QPointF(36, y + 0.5), QPointF(444, y + 0.5));

    // A rising price line with a soft area below it.
    const QList<QPointF> points = {{36, 258},  {78, 248},  {112, 253}, {150, 234},
                                   {186, 240}, {224, 220}, {262, 227}, {298, 206},
                                   {334, 213}, {372, 188}, {406, 195}, {440, 170}};
    QPainterPath line;
    line.moveTo(points.first());
    for (qsizetype i = 1; i < points.size(); ++i)
        line.lineTo(points[i]);
    QPainterPath area = line;
    area.lineTo(440, 276);
    area.lineTo(36, 276);
    area.closeSubpath();
    QLinearGradient fade(0, 170, 0, 276);
    fade.setColorAt(0, QColor(Mint.red(), Mint.green(), Mint.blue(), 90));
    fade.setColorAt(1, QColor(Mint.red(), Mint.green(), Mint.blue(), 0));
    p.fillPath(area, fade);
    p.setPen(QPen(Mint, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(line);

    // The alert: a ping around the newest price.
    const QPointF last = points.last();
    QRadialGradient glow(last, 18);
    glow.setColorAt(0, QColor(Mint.red(), Mint.green(), Mint.blue(), 150));
    glow.setColorAt(1, QColor(Mint.red(), Mint.green(), Mint.blue(), 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(last, 18, 18);
    p.setBrush(Paper);
    p.drawEllipse(last, 4.5, 4.5);

    // Badge: teal disc with a navy ring, the bell on it.
    QLinearGradient disc(badgeCentre - QPointF(badgeRadius, badgeRadius),
                         badgeCentre + QPointF(badgeRadius, badgeRadius));
    disc.setColorAt(0, Mint);
    disc.setColorAt(1, Teal);
    p.setBrush(Navy);
    p.drawEllipse(badgeCentre, badgeRadius, badgeRadius);
    p.setBrush(disc);
    p.drawEllipse(badgeCentre, badgeRadius - 5, badgeRadius - 5);
    drawBell(p, QRectF(badgeCentre - QPointF(29, 30), QSizeF(58, 58)), Paper);
    p.setBrush(Navy);
    p.drawEllipse(badgeCentre + QPointF(20, -20), 10, 10);
    p.setBrush(QColor(0xff, 0x8a, 0x4c));
    p.drawEllipse(badgeCentre + QPointF(20, -20), 7, 7);

    // Word mark and tag line.
    QFont word(pickFamily({QStringLiteral("URW Gothic"), QStringLiteral("DejaVu Sans")}));
    word.setPixelSize(58);
    word.setWeight(QFont::Bold);
    word.setLetterSpacing(QFont::PercentageSpacing, 101);
    p.setFont(word);
    p.setPen(Paper);
    p.drawText(QPointF(158, 116), QStringLiteral("Velquist"));

    QFont tag(pickFamily({QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")}));
    tag.setPixelSize(15);
    tag.setLetterSpacing(QFont::AbsoluteSpacing, 1.6);
    p.setFont(tag);
    p.setPen(Mist);
    p.drawText(QPointF(161, 142), QStringLiteral("STOCK ALERTS AS THEY HAPPEN"));
    p.end();

    // Cut the artwork to the shape pixel by pixel, deciding at each pixel's centre, so the
    // edge has no blend of card and background that would survive the cut-out as a halo.
    QImage splash(size, QImage::Format_RGB32);
    const QRgb white = qRgb(255, 255, 255);
    for (int y = 0; y < size.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(splash.scanLine(y));
        const auto* in = reinterpret_cast<const QRgb*>(art.constScanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            if (!shape.contains(QPointF(x + 0.5, y + 0.5)))
                out[x] = white;
            else
                out[x] = (in[x] & RGB_MASK) == (white & RGB_MASK) ? qRgb(254, 254, 254) : in[x];
        }
    }
    return splash;
}

// --- the icon --------------------------------------------------------------------------------

QImage drawIcon(int size) {
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    const QRectF tile(s * 0.03, s * 0.03, s * 0.94, s * 0.94);
    QLinearGradient face(tile.topLeft(), tile.bottomRight());
    face.setColorAt(0, Ocean.lighter(115));
    face.setColorAt(1, Navy);
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRoundedRect(tile, s * 0.22, s * 0.22);

    if (size >= 32) {
        // A rising line under the bell; too fine to read at the smallest size.
        QPainterPath line;
        line.moveTo(s * 0.14, s * 0.80);
        line.lineTo(s * 0.36, s * 0.70);
        line.lineTo(s * 0.54, s * 0.76);
        line.lineTo(s * 0.86, s * 0.56);
        p.setPen(QPen(Mint, qMax(1.5, s * 0.06), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(line);
        p.setPen(Qt::NoPen);
        drawBell(p, QRectF(s * 0.22, s * 0.08, s * 0.56, s * 0.56), Paper);
    } else {
        drawBell(p, QRectF(s * 0.14, s * 0.12, s * 0.72, s * 0.72), Paper);
    }
    const QPointF dot(s * 0.74, s * 0.24);
    p.setBrush(Navy);
    p.drawEllipse(dot, s * 0.13, s * 0.13);
    p.setBrush(Mint);
    p.drawEllipse(dot, s * 0.085, s * 0.085);
    p.end();
    return icon.convertToFormat(QImage::Format_ARGB32);
}

// One icon entry as a classic DIB: a header of double height, the pixels bottom up, then the
// one-bit mask (set where the icon is fully transparent).
QByteArray dibEntry(const QImage& image) {
    const int w = image.width(), h = image.height();
    const int maskRow = (w + 31) / 32 * 4;
    QByteArray out;
    putLE32(out, 40);
    putLE32(out, quint32(w));
    putLE32(out, quint32(2 * h));
    putLE16(out, 1);
    putLE16(out, 32);
    putLE32(out, 0);
    putLE32(out, quint32(w * h * 4 + maskRow * h));
    putLE32(out, 0);
    putLE32(out, 0);
    putLE32(out, 0);
    putLE32(out, 0);
    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            putLE32(out, row[x]); // 0xAARRGGBB stored little endian is B, G, R, A
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray bits(maskRow, '\0');
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            if (qAlpha(row[x]) == 0)
                bits[x / 8] = char(bits[x / 8] | (0x80 >> (x % 8)));
        out.append(bits);
    }
    return out;
}

QByteArray pngEntry(const QImage& image) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return out;
}

QByteArray iconFile(const QList<int>& sizes) {
    QList<QByteArray> entries;
    for (int size : sizes) {
        const QImage image = drawIcon(size);
        // The large size is stored as PNG, as icon files have done since Vista; small ones as
        // DIBs, which every reader takes.
        entries << (size >= 256 ? pngEntry(image) : dibEntry(image));
    }
    QByteArray out;
    putLE16(out, 0);
    putLE16(out, 1);
    putLE16(out, quint16(sizes.size()));
    quint32 offset = quint32(6 + 16 * sizes.size());
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const int size = sizes[i];
        out.append(char(size >= 256 ? 0 : size));
        out.append(char(size >= 256 ? 0 : size));
        out.append('\0');
        out.append('\0');
        putLE16(out, 1);
        putLE16(out, 32);
        putLE32(out, quint32(entries[i].size()));
        putLE32(out, offset);
        offset += quint32(entries[i].size());
    }
    for (const QByteArray& entry : entries)
        out.append(entry);
    return out;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// --- the starter sounds ----------------------------------------------------------------------

// 16-bit mono PCM: short tones that fade out, so they never click.
struct TTone {
    double Hz;
    double StartS;
    double LengthS;
};

QByteArray waveFile(const QList<TTone>& tones, double lengthS) {
    const int rate = 22050;
    const int frames = int(lengthS * rate);
    QByteArray pcm(frames * 2, '\0');
    auto* samples = reinterpret_cast<qint16*>(pcm.data());
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        double v = 0;
        for (const TTone& tone : tones) {
            const double local = t - tone.StartS;
            if (local < 0 || local > tone.LengthS)
                continue;
            const double attack = qMin(1.0, local / 0.005);
            const double decay = std::exp(-4.0 * local / tone.LengthS);
            v += attack * decay * std::sin(2 * M_PI * tone.Hz * local);
        }
        samples[i] = qToLittleEndian(qint16(qBound(-1.0, 0.45 * v, 1.0) * 32767));
    }
    QByteArray out;
    out.append("RIFF");
    putLE32(out, quint32(36 + pcm.size()));
    out.append("WAVEfmt ");
    putLE32(out, 16);
    putLE16(out, 1); // PCM
    putLE16(out, 1); // mono
    putLE32(out, rate);
    putLE32(out, rate * 2);
    putLE16(out, 2);
    putLE16(out, 16);
    out.append("data");
    putLE32(out, quint32(pcm.size()));
    out.append(pcm);
    return out;
}

int writeSounds(const QDir& out) {
    const bool ok =
        QDir().mkpath(out.path()) &&
        writeFile(out.filePath(QStringLiteral("Chime.wav")),
                  waveFile({{880, 0, 0.25}, {1318.5, 0.12, 0.35}}, 0.5)) &&
        writeFile(out.filePath(QStringLiteral("Ping.wav")), waveFile({{1568, 0, 0.18}}, 0.2));
    if (!ok)
        std::fprintf(stderr, "cannot write the sounds\n");
    return ok ? 0 : 1;
}

// The desktop's icon theme wants one PNG per size; they come from the icon file itself, so the
// two never drift apart.
int writeIconPngs(const QString& ico, const QDir& out) {
    QImageReader reader(ico);
    int written = 0;
    do {
        const QImage image = reader.read();
        if (image.isNull() || image.width() != image.height())
            continue;
        const QString dir = QStringLiteral("%1x%1/apps").arg(image.width());
        if (!QDir().mkpath(out.filePath(dir)) ||
            !image.save(out.filePath(dir + QStringLiteral("/velquist.png")), "PNG")) {
            std::fprintf(stderr, "cannot write the %s icon\n", qPrintable(dir));
            return 1;
        }
        ++written;
    } while (reader.jumpToNextImage());
    if (written == 0) {
        std::fprintf(stderr, "no icon read from %s\n", qPrintable(ico));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--sounds") == 0)
        return writeSounds(QDir(QString::fromLocal8Bit(argv[2])));
    if (argc == 4 && std::strcmp(argv[1], "--icon-pngs") == 0) {
        QCoreApplication app(argc, argv); // image format plug-ins
        return writeIconPngs(QString::fromLocal8Bit(argv[2]),
                             QDir(QString::fromLocal8Bit(argv[3])));
    }
    QGuiApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    if (!drawSplash().save(out.filePath(QStringLiteral("splash.bmp")), "BMP")) {
        std::fprintf(stderr, "cannot write splash.bmp\n");
        return 1;
    }
    if (!writeFile(out.filePath(QStringLiteral("velquist.ico")), iconFile({16, 32, 48, 256}))) {
        std::fprintf(stderr, "cannot write velquist.ico\n");
        return 1;
    }
    return 0;
}
