// The client in GNOME's interface font, Cantarell 11, and larger: the main window keeps its
// width and still shows its status texts whole, and no window cuts a label, a button's caption
// or a group's title. At the default font everything keeps its designed look.
#include "account/zkLoginForm.h"
#include "alerts/zkActionsForm.h"
#include "alerts/zkAlertForm.h"
#include "alerts/zkSoundSetupForm.h"
#include "components/zkSimService.h"
#include "components/zkSimStatusBar.h"
#include "config/zkConfig.h"
#include "config/zkSettings.h"
#include "history/zkAlertHistoryForm.h"
#include "linking/zkGenericConnectorForm.h"
#include "options/zkOptionsForm.h"
#include "shell/zkAboutForm.h"
#include "shell/zkAccountStatusBar.h"
#include "shell/zkMainForm.h"
#include "symbollists/zkSymbolListEditorForm.h"
#include "symbollists/zkSymbolListsForm.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QtTest>

namespace {

QFont Cantarell(qreal points) {
    QFont font(QStringLiteral("Cantarell"));
    font.setPointSizeF(points);
    return font;
}

// The part of w its ancestors up to its window leave visible, in w's coordinates. A scroll
// area's viewport ends the walk: what it hides is scrolled away, not cut.
QRect VisiblePart(const QWidget* w) {
    QRect visible = w->rect();
    QPoint offset(0, 0);
    for (const QWidget* p = w; !p->isWindow(); p = p->parentWidget()) {
        offset += p->pos();
        const QWidget* parent = p->parentWidget();
        if (qobject_cast<const QAbstractScrollArea*>(parent ? parent->parentWidget() : nullptr))
            break;
        visible &= parent->rect().translated(-offset);
    }
    return visible;
}

QString Describe(const QWidget* w, const QString& text) {
    return QStringLiteral("%1 %2 \"%3\" (%4x%5)")
        .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(), text)
        .arg(w->width())
        .arg(w->height());
}

// The controls of a shown window that overlap a control beside them: a layout given less room
// than it needs lays its rows over each other. A plain frame drawn around others may hold them;
// the insides of scroll areas are theirs.
QStringList Overlapping(QWidget* window) {
    QStringList faults;
    const auto drawnFrame = [](const QWidget* w) {
        return w->metaObject() == &QFrame::staticMetaObject &&
               w->findChildren<QWidget*>().isEmpty();
    };
    const auto name = [](const QWidget* w) {
        return QStringLiteral("%1 %2 at %3,%4 %5x%6")
            .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName())
            .arg(w->x())
            .arg(w->y())
            .arg(w->width())
            .arg(w->height());
    };
    QWidgetList parents = window->findChildren<QWidget*>();
    parents.prepend(window);
    for (const QWidget* parent : std::as_const(parents)) {
        if (!parent->isVisible() || parent->window() != window ||
            qobject_cast<const QAbstractScrollArea*>(parent))
            continue;
        QWidgetList placed;
        for (QObject* child : parent->children())
            if (auto* w = qobject_cast<QWidget*>(child);
                w && w->isVisible() && !w->isWindow() && w->width() > 1 && w->height() > 1)
                placed << w;
        for (qsizetype i = 0; i < placed.size(); ++i)
            for (qsizetype j = i + 1; j < placed.size(); ++j) {
                const QRect a = placed[i]->geometry(), b = placed[j]->geometry();
                if (!a.intersects(b) || (drawnFrame(placed[i]) && a.contains(b)) ||
                    (drawnFrame(placed[j]) && b.contains(a)))
                    continue;
                faults << window->windowTitle() + QStringLiteral(": ") + name(placed[i]) +
                              QStringLiteral(" overlaps ") + name(placed[j]);
            }
    }
    return faults;
}

// The labels, captions and titles of a shown window that do not fit where they are drawn, and
// the controls that overlap others.
QStringList Clipped(QWidget* window) {
    window->show();
    QStringList faults;
    if (!QTest::qWaitForWindowExposed(window))
        return {window->windowTitle() + QStringLiteral(": not shown")};
    QCoreApplication::processEvents();
    const QString where = window->windowTitle() + QStringLiteral(": ");
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != window)
            continue;
        QSize need;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text();
            if (text.isEmpty())
                continue;
            need = label->wordWrap() ? QSize(0, label->heightForWidth(label->width()))
                                     : label->minimumSizeHint();
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            text = button->text();
            if (text.isEmpty())
                continue;
            // The caption within the frame and a little air, as the buttons are fitted.
            const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
            const QSize caption = button->fontMetrics().size(Qt::TextShowMnemonic, text);
            const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            need = QSize(caption.width() + icon + 2 * frame + 4, caption.height());
        } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            // The box, the gap and the caption (trailing blanks draw nothing).
            text = static_cast<QAbstractButton*>(w)->text();
            const bool box = qobject_cast<QCheckBox*>(w);
            const QStyle* style = w->style();
            const QSize caption = w->fontMetrics().size(Qt::TextShowMnemonic, text.trimmed());
            need = QSize(style->pixelMetric(box ? QStyle::PM_IndicatorWidth
                                                : QStyle::PM_ExclusiveIndicatorWidth) +
                             style->pixelMetric(box ? QStyle::PM_CheckBoxLabelSpacing
                                                    : QStyle::PM_RadioButtonLabelSpacing) +
                             caption.width(),
                         caption.height());
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            text = group->title();
            if (text.isEmpty())
                continue;
            need = QSize(group->fontMetrics().horizontalAdvance(text) + 8, 0);
        } else {
            continue;
        }
        if (need.width() > w->width() || need.height() > w->height())
            faults << where + Describe(w, text) +
                          QStringLiteral(" needs %1x%2").arg(need.width()).arg(need.height());
        else if (VisiblePart(w) != w->rect())
            faults << where + Describe(w, text) + QStringLiteral(" is cut by its parent");
    }
    return faults + Overlapping(window);
}

} // namespace

class TFontFitTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup() { QApplication::setFont(DefaultFont); }
    void mainWindowTextsWhole_data();
    void mainWindowTextsWhole();
    void defaultFontKeepsTheDesign();
    void noWindowClipsALabel_data();
    void noWindowClipsALabel();

private:
    QFont DefaultFont;
};

void TFontFitTest::initTestCase() {
    DefaultFont = QApplication::font();
    if (!QFontDatabase::families().contains(QStringLiteral("Cantarell")))
        QFAIL("Cantarell is not installed (scripts/install-deps.sh installs fonts-cantarell)");
}

void TFontFitTest::mainWindowTextsWhole_data() {
    QTest::addColumn<qreal>("points");
    QTest::newRow("Cantarell 11") << 11.0;
    QTest::newRow("Cantarell 12") << 12.0;
    QTest::newRow("Cantarell 13") << 13.0;
}

void TFontFitTest::mainWindowTextsWhole() {
    QFETCH(qreal, points);
    QApplication::setFont(Cantarell(points));
    TClientSandbox sandbox;
    auto factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory scope(factory);
    TZentrikProMainForm form;
    TFakeConnectionControl* connection = factory->Connection();
    connection->FUserName = QStringLiteral("DEMO");
    connection->FConnectionStatus = 1;
    const QDateTime now = QDateTime::currentDateTime();
    connection->FAccountExpiration = now.toSecsSinceEpoch() + now.offsetFromUtc() + 30 * 86400;
    form.RefreshAccountStatus();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.centralWidget()->width(), 210);

    // Each bar shows its text whole, in a font no smaller than it must be, and tall enough.
    for (TAccountStatusBar* bar : {form.AccountStatusStatusBar, form.AccountExpirationStatusBar}) {
        QCOMPARE(bar->ShownText(), bar->PanelText());
        const QFontMetrics shown(bar->ShownFont());
        QVERIFY2(shown.horizontalAdvance(bar->ShownText()) <= bar->TextRect().width(),
                 qPrintable(bar->ShownText()));
        QVERIFY(shown.height() <= bar->TextRect().height());
        QVERIFY(bar->ShownFont().pointSizeF() >= points * 0.8);
    }
    QCOMPARE(form.AccountStatusStatusBar->ShownText(), QStringLiteral(" Connected as \"DEMO\""));
    QCOMPARE(form.AccountExpirationStatusBar->ShownText(),
             QStringLiteral(" Your account expires in 30 days"));

    // A user name the width cannot take even in the smallest font is cut with an ellipsis; the
    // tooltip has all of it.
    connection->FUserName = QStringLiteral("a.very.long.user.name@example-brokerage.com");
    form.RefreshAccountStatus();
    TAccountStatusBar* account = form.AccountStatusStatusBar;
    QVERIFY(account->ShownText().endsWith(QChar(0x2026)));
    QVERIFY(QFontMetrics(account->ShownFont()).horizontalAdvance(account->ShownText()) <=
            account->TextRect().width());
    QCOMPARE(account->toolTip(), account->PanelText());

    // The market strip: "Market: Open" and the clock side by side.
    const TSimStatusStrip::TFit fit =
        TSimStatusStrip::Fit(form.font(), 210, QStringLiteral("Open"));
    QCOMPARE(fit.Session, QStringLiteral("Market: Open"));
    QFont bold = fit.Font;
    bold.setBold(true);
    QVERIFY(QFontMetrics(bold).horizontalAdvance(fit.Session) <= fit.SessionWidth);
    QVERIFY(fit.Font.pointSizeF() >= points * 0.8);
}

void TFontFitTest::defaultFontKeepsTheDesign() {
    // The desktop's usual small font: nothing is made smaller, the bars keep their height.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    QApplication::setFont(font);
    TClientSandbox sandbox;
    auto factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory scope(factory);
    TZentrikProMainForm form;
    TFakeConnectionControl* connection = factory->Connection();
    connection->FUserName = QStringLiteral("DEMO");
    connection->FConnectionStatus = 1;
    const QDateTime now = QDateTime::currentDateTime();
    connection->FAccountExpiration = now.toSecsSinceEpoch() + now.offsetFromUtc() + 30 * 86400;
    form.RefreshAccountStatus();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (TAccountStatusBar* bar : {form.AccountStatusStatusBar, form.AccountExpirationStatusBar}) {
        QCOMPARE(bar->height(), TAccountStatusBar::BarHeight);
        QCOMPARE(bar->ShownFont(), bar->font());
        QCOMPARE(bar->ShownText(), bar->PanelText());
    }
    QCOMPARE(form.centralWidget()->width(), 210);
    // The windows sized for this font keep their sizes.
    TOptionsForm options(&form, &form);
    options.show();
    QCOMPARE(options.size(), QSize(575, 428));
    // The Actions dialog has more rows than it was drawn with (the broker's): it keeps its
    // width and takes the height they need rather than laying them over each other.
    TActionsForm* actions = form.ActionsDialog();
    actions->show();
    QCOMPARE(actions->width(), 279);
    QVERIFY(actions->height() >= 334);
    QVERIFY(QTest::qWaitForWindowExposed(actions));
    const QStringList overlapping = Overlapping(actions);
    QVERIFY2(overlapping.isEmpty(), qPrintable(overlapping.join(QLatin1Char('\n'))));
    form.ConnectorForm->show();
    QCOMPARE(form.ConnectorForm->minimumSize(), QSize(282, 346));
    QCOMPARE(form.ConnectorForm->size(), QSize(282, 416));
    options.reject();
    actions->reject();
    // Sessions with longer names give up their label at this size, as designed.
    for (const auto& [session, shown] :
         {std::pair{QStringLiteral("Open"), QStringLiteral("Market: Open")},
          std::pair{QStringLiteral("Pre-Market"), QStringLiteral("Pre-Market")}}) {
        const TSimStatusStrip::TFit fit = TSimStatusStrip::Fit(font, 210, session);
        QCOMPARE(fit.Font, font);
        QCOMPARE(fit.Session, shown);
    }
}

void TFontFitTest::noWindowClipsALabel_data() {
    QTest::addColumn<qreal>("points");
    QTest::newRow("Cantarell 11") << 11.0;
    QTest::newRow("Cantarell 13") << 13.0;
}

void TFontFitTest::noWindowClipsALabel() {
    QFETCH(qreal, points);
    QApplication::setFont(Cantarell(points));
    TClientSandbox sandbox;
    TSimService::ResetInstance();
    TSimService::Instance()->SetPropertyByName(QStringLiteral("SimAlertInterval"),
                                               QStringLiteral("0"));
    WriteStringValue(TSettingsStore::Registry(), SettingsValuesPath(), QStringLiteral("UserName"),
                     QStringLiteral("DEMO"));
    ConfigInfo().LoginURLLink1 = QStringLiteral("Create an account|https://signup.example/");
    ConfigInfo().LoginURLLink2 = QStringLiteral("Forgot your password?|https://help.example/");
    QStringList faults;
    {
        TZentrikProMainForm main;
        faults << Clipped(&main);
        faults << Clipped(main.NewAlertWindow());
        faults << Clipped(main.SymbolListsForm);
        faults << Clipped(main.ConnectorForm);
        faults << Clipped(main.LoginForm);
        faults << Clipped(main.ActionsDialog());
        TAboutForm about(&main);
        faults << Clipped(&about);
        TSoundSetupForm sound(&main);
        faults << Clipped(&sound);
        TSymbolListEditorForm editor(&main);
        faults << Clipped(&editor);
        TAlertHistoryForm history(&main, nullptr);
        faults << Clipped(&history);
        TOptionsForm options(&main, &main);
        for (int page = 0; page < options.PagesControl->count(); ++page) {
            options.ShowPage(page);
            faults << Clipped(&options);
        }
        options.reject();
    }
    TSimService::ResetInstance();
    // One line each: QtTest cuts a long message short.
    for (const QString& fault : std::as_const(faults))
        qWarning("%s", qPrintable(fault));
    QCOMPARE(faults.size(), 0);
}

QTEST_MAIN(TFontFitTest)
#include "tst_font_fit.moc"
