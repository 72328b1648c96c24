// How the client hosts components: the factory, the wrappers, the fakes other suites use,
// and the component registry.

#include "components/zkComponentRegistry.h"
#include "components/zkComponentWrappers.h"
#include "components/zkSimAlertWindow.h"
#include "components/zkSimConnection.h"
#include "components/zkSimConnector.h"
#include "components/zkSimService.h"
#include "platform/zkErrors.h"
#include "platform/zkPrompts.h"
#include "zkComponentsTestUtil.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QSignalSpy>
#include <QTest>

class THostingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<IAlertData*>(); }
    void init() {
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
    }
    void cleanup() {
        TSimService::ResetInstance();
        zkPrompts::ClearScript();
    }

    void simulatedServiceIsTheDefault() {
        TTestHome home;
        TZentrikWindowX window;
        QVERIFY(qobject_cast<TSimZentrikWindowX*>(window.Component()));
        std::unique_ptr<IConnectionControl> connection = CoConnectionControl::Create();
        QVERIFY(dynamic_cast<TSimConnectionControl*>(connection.get()));
        TZentrikGenericConnector2X connector;
        QVERIFY(qobject_cast<TSimGenericConnector2X*>(connector.Component()));
    }

    void wrapperShowsTheComponentFillingItsArea() {
        TTestHome home;
        TZentrikWindowX window;
        window.resize(452, 446);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget* face = window.Component()->Widget();
        QCOMPARE(face->parentWidget(), &window);
        QTRY_COMPARE(face->geometry(), window.rect());
        window.resize(300, 200);
        QTRY_COMPARE(face->geometry(), QRect(0, 0, 300, 200));
    }

    void fakesStandInForEveryComponent() {
        auto factory = std::make_shared<TFakeComponentFactory>();
        factory->PrepareAlertWindow = [](TFakeZentrikWindowX& w) {
            w.FWindowName = QStringLiteral("Prepared");
        };
        {
            TScopedComponentFactory scope(factory);
            TZentrikWindowX window;
            QCOMPARE(factory->AlertWindows.size(), 1);
            TFakeZentrikWindowX* fake = factory->AlertWindows.first();
            QCOMPARE(window.Component(), fake);
            QCOMPARE(window.WindowName(), QStringLiteral("Prepared"));

            // Properties and operations go through to the component...
            window.SetDataConfig(QStringLiteral("WN=Gappers"));
            window.SetFontColor(0x00FF00);
            window.SetAllowAlertSelectionType(3);
            window.SetNotifyOnEachAlert(true);
            window.AddCustomMenuItem(QStringLiteral("Actions..."), 1000);
            QCOMPARE(fake->FDataConfig, QStringLiteral("WN=Gappers"));
            QCOMPARE(window.WindowName(), QStringLiteral("Gappers"));
            QCOMPARE(fake->FFontColor, 0x00FF00);
            QCOMPARE(fake->MenuItems.size(), 1);
            QCOMPARE(fake->MenuItems.first().Id, 1000);

            // ...and its events come back with the wrapper as sender.
            QStringList seen;
            connect(&window, &TZentrikWindowX::OnNewAlert, this,
                    [&](QObject* sender, IAlertData* alert) {
                        QCOMPARE(sender, &window);
                        seen << alert->AlertSymbol() + QString::number(alert->SkipFlag());
                    });
            QSignalSpy selected(&window, &TZentrikWindowX::OnAlertSelected);
            QSignalSpy custom(&window, &TZentrikWindowX::OnCustomMenuItem);
            fake->RaiseNewAlert(QStringLiteral("AAPL"));
            fake->RaiseNewAlert(QStringLiteral("MSFT"), 1);
            fake->RaiseAlertSelected(QStringLiteral("NVDA"), 2);
            fake->RaiseCustomMenuItem(1000);
            QCOMPARE(seen, QStringList({"AAPL0", "MSFT1"}));
            QCOMPARE(selected.count(), 1);
            QCOMPARE(window.AlertSelectionType(), 2);
            QCOMPARE(custom.first().at(1).toString(), QStringLiteral("Actions..."));
            QCOMPARE(custom.first().at(2).toInt(), 1000);

            TZentrikGenericConnector2X connector;
            connector.SetSymbol(QStringLiteral("AAPL"));
            connector.SendSymbol();
            connector.InitializeConnector();
            QCOMPARE(factory->Connectors.first()->Sent, QStringList({"AAPL"}));
            QCOMPARE(factory->Connectors.first()->InitializeCount, 1);

            TGenericNetRequestX request;
            QSignalSpy results(&request, &TGenericNetRequestX::OnResult);
            request.SendRequest(QStringLiteral("https://example.invalid/v"));
            factory->NetRequests.first()->RaiseResult(QStringLiteral("Version=2"));
            QCOMPARE(factory->NetRequests.first()->Requests.size(), 1);
            QCOMPARE(results.first().at(0).value<QObject*>(), &request);
            QCOMPARE(results.first().at(1).toString(), QStringLiteral("Version=2"));

            TStatusBarX bar;
            QCOMPARE(factory->StatusBars.size(), 1);

            std::unique_ptr<IConnectionControl> connection = CoConnectionControl::Create();
            QCOMPARE(factory->Connection(), connection.get());
            connection->SetUserName(QStringLiteral("DEMO"));
            connection->SetPropertyByName(QStringLiteral("ShowGrid"), QStringLiteral("1"));
            QCOMPARE(factory->Connection()->Log,
                     QStringList({"SetUserName(DEMO)", "SetPropertyByName(ShowGrid=1)"}));
            connection.reset();
            QVERIFY(!factory->Connection());
        }
        QVERIFY(factory->AlertWindows.first().isNull()); // destroyed with its wrapper
        TTestHome home;
        TZentrikWindowX afterwards; // the scope put the simulated service back
        QVERIFY(qobject_cast<TSimZentrikWindowX*>(afterwards.Component()));
    }

    void failedCreationThrowsAndLeavesNothingBehind() {
        auto factory = std::make_shared<TFakeComponentFactory>();
        factory->FailCreation = true;
        TScopedComponentFactory scope(factory);
        QWidget parent;
        QVERIFY_THROWS_EXCEPTION(EComponentError, TZentrikWindowX window(&parent));
        QVERIFY_THROWS_EXCEPTION(EComponentError, CoConnectionControl::Create());
        QVERIFY(parent.findChildren<QWidget*>().isEmpty());
    }

    void handlerErrorsGoToTheErrorReport() {
        auto factory = std::make_shared<TFakeComponentFactory>();
        TScopedComponentFactory scope(factory);
        TZentrikWindowX window;
        window.SetNotifyOnWindowNameChanged(true);
        connect(&window, &TZentrikWindowX::OnWindowNameChanged, this,
                [](QObject*) { throw EComponentError(QStringLiteral("caption failed")); });
        factory->AlertWindows.first()->RaiseWindowNameChanged(QStringLiteral("New"));
        QCOMPARE(zkPrompts::Shown().size(), 1);
        QCOMPARE(zkPrompts::Shown().first().Text, QStringLiteral("caption failed"));
    }

    void registryVersions() {
        TComponentRegistry::ResetToDefaults();
        const QString window = QString::fromLatin1(zkComponentLibraries::ZentrikWindow());
        const QString connector = QString::fromLatin1(zkComponentLibraries::GenericConnector());
        QCOMPARE(TComponentRegistry::FoundVersion(window), QStringLiteral("4.3"));
        QCOMPARE(TComponentRegistry::FoundVersion(connector), QStringLiteral("1.4"));
        QCOMPARE(TComponentRegistry::FoundVersion(QStringLiteral("Unknown_TLB")), QString());
        TComponentRegistry::Register(window, 4, 10);
        QCOMPARE(TComponentRegistry::FoundVersion(window), QStringLiteral("4.10"));
        TComponentRegistry::Unregister(connector);
        QCOMPARE(TComponentRegistry::FoundVersion(connector), QString());
        TComponentRegistry::ResetToDefaults();
        QCOMPARE(TComponentRegistry::FoundVersion(connector), QStringLiteral("1.4"));
    }

    void environmentOverridesTheRegistry() {
        const QByteArray old = qgetenv("VELQUIST_COMPONENT_VERSIONS");
        qputenv("VELQUIST_COMPONENT_VERSIONS",
                "ZentrikWindow_TLB=4.2; ZentrikGenericConnector2Proj1_TLB= ;Extra_TLB=abc;=9;junk");
        TComponentRegistry::ResetToDefaults();
        QCOMPARE(TComponentRegistry::FoundVersion(QStringLiteral("ZentrikWindow_TLB")),
                 QStringLiteral("4.2"));
        QCOMPARE(
            TComponentRegistry::FoundVersion(QStringLiteral("ZentrikGenericConnector2Proj1_TLB")),
            QString());
        QCOMPARE(TComponentRegistry::FoundVersion(QStringLiteral("Extra_TLB")),
                 QStringLiteral("abc"));
        QCOMPARE(TComponentRegistry::FoundVersion(QStringLiteral("junk")), QString());
        if (old.isNull())
            qunsetenv("VELQUIST_COMPONENT_VERSIONS");
        else
            qputenv("VELQUIST_COMPONENT_VERSIONS", old);
        TComponentRegistry::ResetToDefaults();
        if (old.isNull())
            QCOMPARE(TComponentRegistry::FoundVersion(QStringLiteral("ZentrikWindow_TLB")),
                     QStringLiteral("4.3"));
    }

    void connectorRecordsAndHandsSymbolsToTheLink() {
        TSimGenericConnector2X connector;
        connector.InitializeConnector();
        QVERIFY(connector.Initialized());
        connector.SetAutoSave(false);
        QVERIFY(!connector.AutoSave());
        connector.SetSymbol(QStringLiteral("AAPL"));
        connector.SendSymbol();
        QCOMPARE(connector.LinkCount(), 0);

        struct TRecordingLink : ISimConnectorLink {
            QStringList Sent;
            void Send(const QString& name, const QString& symbol) override {
                Sent << name + QLatin1Char(':') + symbol;
            }
            int32_t LinkCount(const QString& name) const override {
                return name == QLatin1String("MAIN LIST") ? 2 : 0;
            }
        };
        auto link = std::make_shared<TRecordingLink>();
        SetSimConnectorLink(link);
        connector.SetLinkName(QStringLiteral("MAIN LIST"));
        connector.SetSymbol(QStringLiteral("MSFT"));
        connector.SendSymbol();
        QCOMPARE(connector.LinkCount(), 2);
        SetSimConnectorLink(nullptr);
        QCOMPARE(link->Sent, QStringList({"MAIN LIST:MSFT"}));
        QCOMPARE(connector.SentSymbols(), QStringList({"AAPL", "MSFT"}));
        QCOMPARE(connector.LinkCount(), 0);

        for (int i = 0; i < 1100; ++i) {
            connector.SetSymbol(QString::number(i));
            connector.SendSymbol();
        }
        QCOMPARE(connector.SentSymbols().size(), 1000);
        QCOMPARE(connector.SentSymbols().last(), QStringLiteral("1099"));
    }
};

QTEST_MAIN(THostingTest)
#include "tst_hosting.moc"
