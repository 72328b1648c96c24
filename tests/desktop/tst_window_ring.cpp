// The order of the window ring: windows that had the focus, the latest first, then the others
// in order of creation.
#include "desktop/zkWindowOrder.h"
#include "desktop/zkWindowRing.h"

#include <QDialog>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

QWidgetList Order() {
    TFormRing ring;
    ring.Rebuild();
    QWidgetList list;
    for (const TFormRingItem& item : std::as_const(ring.Items))
        list << item.Form.data();
    return list;
}

// The windows of `list` in the order the ring has them.
QWidgetList OrderOf(const QWidgetList& list) {
    QWidgetList order;
    for (QWidget* w : Order())
        if (list.contains(w))
            order << w;
    return order;
}

} // namespace

class TWindowRingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // Windows made before the watch began: the oldest, whatever else comes.
        for (int i = 0; i < 12; ++i)
            Early.push_back(std::make_unique<QDialog>());
        zkWindowOrder::Install();
    }
    void focusedFirstThenCreationOrder();
    void rebuildsInABatchRunOnceAtItsEnd();
    void windowsComeGoAndChangeKind();

private:
    std::vector<std::unique_ptr<QDialog>> Early;
};

void TWindowRingTest::focusedFirstThenCreationOrder() {
    // Enough windows that an order taken from a hash would show.
    std::vector<std::unique_ptr<QWidget>> windows;
    QWidgetList created;
    for (int i = 0; i < 12; ++i) {
        // A window made so only after construction counts from then on.
        std::unique_ptr<QWidget> w =
            i == 5 ? std::make_unique<QWidget>() : std::make_unique<QDialog>();
        if (i == 5)
            w->setWindowFlags(Qt::Window);
        w->setObjectName(QString::number(i));
        created << w.get();
        windows.push_back(std::move(w));
    }
    TFormRing ring;
    ring.Rebuild();
    // The windows made here; the test's own made before the watch come ahead of them.
    auto order = [&ring, &created] {
        QWidgetList list;
        for (const TFormRingItem& item : std::as_const(ring.Items))
            if (created.contains(item.Form.data()) || !item.Form)
                list << item.Form.data();
        return list;
    };
    QCOMPARE(order(), created);

    // Focus on 7, then 2, then 9: those lead, the most recent first; the rest keep their order.
    for (int i : {7, 2, 9}) {
        created[i]->show();
        created[i]->activateWindow();
        QTRY_VERIFY(created[i]->isActiveWindow());
    }
    // Hidden again: a hidden window keeps its place (it is skipped only when cycling).
    created[2]->hide();
    ring.Rebuild();
    QWidgetList expected = {created[9], created[2], created[7]};
    for (QWidget* w : std::as_const(created))
        if (!expected.contains(w))
            expected << w;
    QCOMPARE(order(), expected);

    // Focus again on an older one moves it to the front.
    created[7]->activateWindow();
    QTRY_VERIFY(created[7]->isActiveWindow());
    ring.Rebuild();
    QCOMPARE(order().mid(0, 3), (QWidgetList{created[7], created[9], created[2]}));

    // A window destroyed goes from the ring at the next rebuild; the order of the rest stays.
    windows[9].reset();
    ring.Rebuild();
    QCOMPARE(order().mid(0, 4), (QWidgetList{created[7], created[2], created[0], created[1]}));
}

void TWindowRingTest::rebuildsInABatchRunOnceAtItsEnd() {
    TFormRing& ring = FormRing();
    std::unique_ptr<QDialog> a, b, c;
    ring.Rebuild();
    const qsizetype before = ring.Items.size();
    {
        const TFormRing::TBatch outer;
        a = std::make_unique<QDialog>();
        ring.Rebuild();
        {
            const TFormRing::TBatch inner;
            b = std::make_unique<QDialog>();
            ring.Rebuild();
        }
        // The inner batch's end does not rebuild while the outer one lives.
        QCOMPARE(ring.Items.size(), before);
    }
    QCOMPARE(ring.Items.size(), before + 2);
    QCOMPARE(ring.Items.at(before).Form.data(), a.get());
    QCOMPARE(ring.Items.at(before + 1).Form.data(), b.get());
    // A batch in which nobody asked for a rebuild leaves the ring as it was.
    {
        const TFormRing::TBatch idle;
        c = std::make_unique<QDialog>();
    }
    QCOMPARE(ring.Items.size(), before + 2);
}

void TWindowRingTest::windowsComeGoAndChangeKind() {
    QWidgetList early;
    for (const auto& w : Early)
        early << w.get();
    const QWidgetList earlyOrder = OrderOf(early);
    QCOMPARE(earlyOrder.size(), early.size());

    // Many windows and widgets later (the application's own sets of them grow and are laid
    // out anew), the early ones keep their order, ahead of every later window that never had
    // the focus.
    std::vector<std::unique_ptr<QWidget>> later;
    for (int i = 0; i < 300; ++i) {
        later.push_back(std::make_unique<QWidget>());
        for (int c = 0; c < 5; ++c)
            new QWidget(later.back().get());
    }
    QCOMPARE(OrderOf(early), earlyOrder);
    const QWidgetList all = Order();
    QVERIFY(all.indexOf(earlyOrder.last()) < all.indexOf(later.front().get()));

    // A window destroyed leaves no trace: one made after it (perhaps at the same address)
    // comes last, not at its place.
    QWidget* second = later[1].get();
    QWidgetList before = OrderOf({later[0].get(), later[2].get()});
    later[1].reset();
    QVERIFY(!Order().contains(second));
    later[1] = std::make_unique<QWidget>();
    QCOMPARE(Order().last(), later[1].get());
    QCOMPARE(OrderOf({later[0].get(), later[2].get()}), before);

    // Popups and tool tips are no windows of the ring.
    QWidget popup(nullptr, Qt::Popup), tip(nullptr, Qt::ToolTip);
    QVERIFY(!Order().contains(&popup));
    QVERIFY(!Order().contains(&tip));
    // Nor is a splash screen, shown or not: Ctrl+N would bring it over the user's window.
    QWidget splash(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint);
    QVERIFY(!Order().contains(&splash));
    splash.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));
    QVERIFY(!Order().contains(&splash));

    // A window put into another one is left out while it is a child, and has its place again
    // when it is a window once more.
    QWidget* moved = later[5].get();
    const qsizetype place = OrderOf({later[4].get(), moved, later[6].get()}).indexOf(moved);
    QCOMPARE(place, 1);
    moved->setParent(later[7].get());
    QVERIFY(!Order().contains(moved));
    moved->setParent(nullptr);
    QCOMPARE(OrderOf({later[4].get(), moved, later[6].get()}).indexOf(moved), place);

    // A child shown in its window and then made a window by its flags alone (it gets no
    // parent change) is in the ring once it shows as a window: with the oldest that never had
    // the focus.
    QWidget host;
    auto* child = new QWidget(&host);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QVERIFY(!Order().contains(child));
    child->setWindowFlags(Qt::Window);
    child->show();
    QVERIFY(Order().contains(child));
    QVERIFY(Order().indexOf(child) < Order().indexOf(later.front().get()));

    // The focus taken: first; the next window to take it goes ahead of it.
    child->activateWindow();
    QTRY_VERIFY(child->isActiveWindow());
    QCOMPARE(Order().first(), child);
    host.activateWindow();
    QTRY_VERIFY(host.isActiveWindow());
    QCOMPARE(Order().mid(0, 2), (QWidgetList{&host, child}));
    // Destroyed while it has the focus: gone, the one before it first again.
    delete child;
    QCOMPARE(Order().first(), &host);
    QVERIFY(!Order().contains(child));
}

QTEST_MAIN(TWindowRingTest)
#include "tst_window_ring.moc"
