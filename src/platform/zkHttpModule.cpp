#include "platform/zkHttpModule.h"

#include "platform/zkInstallation.h"
#include "platform/zkSharedLibrary.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <dlfcn.h>

namespace zkHttp {

namespace {

struct TModule {
    QMutex Lock;
    QString PathOverride;
    bool Tried = false;
    TFactory* Factory = nullptr;
    QString Problem;
};

TModule& Module() {
    static TModule module;
    return module;
}

// Opens the module and finds its factory; the reason when it cannot.
QString Open(const QString& path, TFactory*& factory) {
    if (!QFile::exists(path))
        return QStringLiteral("%1 is missing").arg(path);
    void* library = zkShared::Open(QFile::encodeName(path).constData());
    if (!library)
        return QStringLiteral("%1 cannot be opened: %2")
            .arg(path, QString::fromLocal8Bit(dlerror()));
    if (!zkShared::Resolve(library, FactoryName, factory))
        return QStringLiteral("%1 has no %2").arg(path, QLatin1String(FactoryName));
    return QString();
}

} // namespace

IRequests* Create() {
    TModule& module = Module();
    QMutexLocker locker(&module.Lock);
    if (!module.Tried) {
        module.Tried = true;
        const QString path = module.PathOverride.isEmpty()
                                 ? zkInstallation::ModuleFile(QLatin1String(ModuleFileName))
                                 : module.PathOverride;
        module.Problem = Open(path, module.Factory);
        if (!module.Problem.isEmpty()) {
            module.Factory = nullptr;
            // Once: every later request fails the same way, as without a network.
            qWarning("velquist: web requests fail: %s", qPrintable(module.Problem));
        }
    }
    if (!module.Factory)
        return nullptr;
    IRequests* requests = module.Factory(InterfaceVersion);
    if (!requests && module.Problem.isEmpty()) {
        module.Problem = QStringLiteral("the module is of another version");
        qWarning("velquist: web requests fail: %s", qPrintable(module.Problem));
    }
    return requests;
}

QString LoadProblem() {
    TModule& module = Module();
    QMutexLocker locker(&module.Lock);
    return module.Problem;
}

void SetModulePathForTesting(const QString& path) {
    TModule& module = Module();
    QMutexLocker locker(&module.Lock);
    module.PathOverride = path;
    module.Tried = false;
    module.Factory = nullptr;
    module.Problem.clear();
}

} // namespace zkHttp
