// Baseline for the start-up benchmark: a bare Qt Widgets program that shows one window and
// quits at its first idle moment.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

namespace {
// The shared libraries mapped into the process (distinct ".so" files of /proc/self/maps), as the
// client counts them; with list, their paths as "library-at-<when> PATH" lines.
int MappedLibraries(const char* when, bool list) {
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return -1;
    std::set<std::string> paths;
    char line[4096];
    while (std::fgets(line, sizeof line, maps)) {
        const char* path = std::strchr(line, '/');
        if (!path || !std::strstr(path, ".so"))
            continue;
        std::string name(path);
        while (!name.empty() && (name.back() == '\n' || name.back() == ' '))
            name.pop_back();
        paths.insert(name);
    }
    std::fclose(maps);
    if (list)
        for (const std::string& name : paths)
            std::printf("library-at-%s %s\n", when, name.c_str());
    return int(paths.size());
}

long ResidentKiB(const char* field = "VmRSS") {
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return -1;
    long kib = -1;
    char line[256];
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':' &&
            std::sscanf(line + length + 1, "%ld", &kib) == 1)
            break;
    std::fclose(status);
    return kib;
}
} // namespace

int main(int argc, char** argv) {
    timespec mainAt = {};
    clock_gettime(CLOCK_MONOTONIC, &mainAt);
    const bool list = std::getenv("VELQUIST_LIST_LIBRARIES") != nullptr;
    const int librariesAtMain = MappedLibraries("main", list);
    QApplication app(argc, argv);
    QWidget w;
    w.resize(210, 80);
    // A second baseline: the same window with one line of text, which loads the fonts.
    if (qEnvironmentVariableIsSet("BARE_WITH_LABEL")) {
        auto* label = new QLabel(QStringLiteral("Connected as \"DEMO\""), &w);
        label->move(4, 4);
    }
    w.show();
    QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
        [librariesAtMain, mainAt, list] {
            timespec now = {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            printf("main-at-ns %lld\nidle-at-ns %lld\nlibraries-at-main %d\n"
                   "libraries-at-idle %d\nrss-at-idle-kib %ld\nanonymous-at-idle-kib %ld\n",
                   static_cast<long long>(mainAt.tv_sec) * 1000000000LL + mainAt.tv_nsec,
                   static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, librariesAtMain,
                   MappedLibraries("idle", list), ResidentKiB(), ResidentKiB("RssAnon"));
            fflush(stdout);
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
    return app.exec();
}
