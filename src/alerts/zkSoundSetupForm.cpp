#include "zkSoundSetupForm.h"

#include "desk/zkWindowDesk.h"
#include "platform/zkMadeOnDemand.h"
#include "platform/zkPrompts.h"
#include "zkSoundPlayForm.h"
#include "zkSoundPlayer.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStylePainter>
#include <QThread>
#include <QVBoxLayout>

namespace {
TMadeOnDemand<TSoundSetupForm> TheSoundSetupForm;

constexpr int ClientWidth = 289;
constexpr int ClientHeight = 282;

// A speaker for either end of the balance bar, sounding outwards.
QPixmap SpeakerPixmap(const QStyle* style, bool mirrored, qreal dpr) {
    const QIcon icon = QIcon::fromTheme(QStringLiteral("audio-volume-high"),
                                        style->standardIcon(QStyle::SP_MediaVolume));
    QPixmap pixmap = icon.pixmap(QSize(16, 16), dpr);
    if (mirrored)
        pixmap = QPixmap::fromImage(pixmap.toImage().mirrored(true, false));
    return pixmap;
}

QFrame* Separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// The volume bar keeps its positions running downwards (0 at the top is full volume) but fills
// its groove from the bottom up to the thumb, as a loudness meter reads.
class TVolumeTrackBar : public QSlider {
public:
    using QSlider::QSlider;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
        if (tickPosition() != NoTicks)
            option.subControls |= QStyle::SC_SliderTickmarks;
        if (isSliderDown()) {
            option.activeSubControls = QStyle::SC_SliderHandle;
            option.state |= QStyle::State_Sunken;
        }
        option.upsideDown = !option.upsideDown;
        option.sliderPosition = option.maximum + option.minimum - option.sliderPosition;
        option.sliderValue = option.maximum + option.minimum - option.sliderValue;
        painter.drawComplexControl(QStyle::CC_Slider, option);
    }
};

// True while a preview plays. Queued sounds wait for its end, also when the dialog closes
// before it: two sounds never play at once.
bool PreviewPlaying = false;

} // namespace

TSoundSetupForm* SoundSetupForm() {
    return TheSoundSetupForm.Existing();
}

void SetSoundSetupFormMaker(std::function<TSoundSetupForm*()> maker) {
    TheSoundSetupForm.SetMaker(std::move(maker));
}

TSoundSetupForm* EnsureSoundSetupForm() {
    return TheSoundSetupForm.Get();
}

TSoundSetupForm::TSoundSetupForm(QWidget* parent, IWindowDesk* desk)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Desk(desk) {
    setObjectName(QStringLiteral("SoundSetupForm"));
    setWindowTitle(tr("Sound Setup"));

    FileNameLabel = new QLabel(tr("Sound &file name:"), this);
    FileNameLabel->setObjectName(QStringLiteral("FileNameLabel"));
    FileNameEdit = new QLineEdit(this);
    FileNameEdit->setObjectName(QStringLiteral("FileNameEdit"));
    FileNameEdit->setFocusPolicy(Qt::ClickFocus); // typed into, but not on the Tab round
    FileNameLabel->setBuddy(FileNameEdit);

    SelectSoundButton = new QPushButton(tr("&Select sound..."), this);
    SelectSoundButton->setObjectName(QStringLiteral("SelectSoundButton"));
    SelectSoundButton->setAutoDefault(false);
    PlayButton = new QPushButton(tr("&Play"), this);
    PlayButton->setObjectName(QStringLiteral("PlayButton"));
    PlayButton->setAutoDefault(false);
    PlayButton->setIcon(QIcon::fromTheme(QStringLiteral("media-playback-start"),
                                         style()->standardIcon(QStyle::SP_MediaPlay)));

    BalanceLabel = new QLabel(tr("&Balance:"), this);
    BalanceLabel->setObjectName(QStringLiteral("BalanceLabel"));
    LeftImage = new QLabel(this);
    LeftImage->setObjectName(QStringLiteral("LeftImage"));
    LeftImage->setPixmap(SpeakerPixmap(style(), true, devicePixelRatioF()));
    LeftImage->setToolTip(tr("Left"));
    RightImage = new QLabel(this);
    RightImage->setObjectName(QStringLiteral("RightImage"));
    RightImage->setPixmap(SpeakerPixmap(style(), false, devicePixelRatioF()));
    RightImage->setToolTip(tr("Right"));
    BalanceTrackBar = new QSlider(Qt::Horizontal, this);
    BalanceTrackBar->setObjectName(QStringLiteral("BalanceTrackBar"));
    BalanceTrackBar->setRange(0, 100);
    BalanceTrackBar->setSingleStep(5);
    BalanceTrackBar->setPageStep(10);
    BalanceTrackBar->setTickPosition(QSlider::TicksBelow);
    BalanceTrackBar->setTickInterval(25);
    BalanceTrackBar->setValue(50);
    BalanceLabel->setBuddy(BalanceTrackBar);

    VolumeLabel = new QLabel(tr("&Volume:"), this);
    VolumeLabel->setObjectName(QStringLiteral("VolumeLabel"));
    VolumeTrackBar = new TVolumeTrackBar(Qt::Vertical, this);
    VolumeTrackBar->setObjectName(QStringLiteral("VolumeTrackBar"));
    VolumeTrackBar->setRange(0, 100);
    VolumeTrackBar->setSingleStep(5);
    VolumeTrackBar->setPageStep(10);
    VolumeTrackBar->setTickPosition(QSlider::TicksBothSides);
    VolumeTrackBar->setTickInterval(20);
    // Position 0 sits at the top and means full volume; Up and the wheel move the thumb up.
    VolumeTrackBar->setInvertedAppearance(true);
    VolumeTrackBar->setInvertedControls(true);
    VolumeLabel->setBuddy(VolumeTrackBar);

    OKButton = new QPushButton(tr("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(tr("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(OKButton, QDialogButtonBox::AcceptRole);
    buttons->addButton(CancelButton, QDialogButtonBox::RejectRole);

    // Layout: the file on top, balance and volume side by side, the dialog buttons below.
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(SelectSoundButton);
    fileButtons->addWidget(PlayButton);
    fileButtons->addStretch();

    auto* balanceRow = new QHBoxLayout;
    balanceRow->addWidget(LeftImage);
    balanceRow->addWidget(BalanceTrackBar, 1);
    balanceRow->addWidget(RightImage);
    auto* balanceEnds = new QHBoxLayout;
    auto* leftText = new QLabel(tr("Left"), this);
    auto* rightText = new QLabel(tr("Right"), this);
    leftText->setEnabled(false);
    rightText->setEnabled(false);
    balanceEnds->addWidget(leftText);
    balanceEnds->addStretch();
    balanceEnds->addWidget(rightText);
    // Balance on the left and volume on the right share the label row; the volume bar runs
    // down the whole height beside the balance bar.
    auto* levels = new QGridLayout;
    levels->setHorizontalSpacing(16);
    levels->addWidget(BalanceLabel, 0, 0);
    levels->addWidget(VolumeLabel, 0, 1, Qt::AlignHCenter);
    levels->addLayout(balanceRow, 1, 0);
    levels->addLayout(balanceEnds, 2, 0);
    levels->addWidget(VolumeTrackBar, 1, 1, 3, 1, Qt::AlignHCenter);
    levels->setRowStretch(3, 1);
    levels->setColumnStretch(0, 1);

    auto* root = new QVBoxLayout(this);
    root->addWidget(FileNameLabel);
    root->addWidget(FileNameEdit);
    root->addLayout(fileButtons);
    root->addSpacing(4);
    root->addWidget(Separator(this));
    root->addLayout(levels, 1);
    root->addWidget(Separator(this));
    root->addWidget(buttons);
    setFixedSize(ClientWidth, ClientHeight);

    connect(SelectSoundButton, &QPushButton::clicked, this, [this] { SelectSoundButtonClick(); });
    connect(PlayButton, &QPushButton::clicked, this, [this] { PlayButtonClick(); });
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(BalanceTrackBar, &QSlider::valueChanged, this,
            [this] { TrackBarChange(BalanceTrackBar); });
    connect(VolumeTrackBar, &QSlider::valueChanged, this,
            [this] { TrackBarChange(VolumeTrackBar); });

    FormCreate();
    TheSoundSetupForm.Adopt(this);
}

TSoundSetupForm::~TSoundSetupForm() {
    TheSoundSetupForm.Forget(this);
}

void TSoundSetupForm::FormCreate() {
    SetupText = DefaultSoundName;
    SoundsFolder = SoundsDir();
    InstallApplicationBeep();
}

void TSoundSetupForm::SetSetupText(const QString& text) {
    SetupText = text.isEmpty() ? DefaultSoundName : text;
    Setup = ParseSoundSetup(SetupText);
}

QString TSoundSetupForm::BuildSetupText() const {
    if (FileNameEdit->text() == DefaultSoundName)
        return DefaultSoundName; // volume and balance are not kept with the beep
    return FileNameEdit->text() + QLatin1Char(',') +
           QString::number(100 - VolumeTrackBar->value()) + QLatin1Char(',') +
           QString::number(BalanceTrackBar->value());
}

QString TSoundSetupForm::GetSetupText() {
    SetupText = BuildSetupText();
    return SetupText;
}

void TSoundSetupForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TSoundSetupForm::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    // However the dialog goes away, queued sounds may play again.
    if (!event->spontaneous())
        SetSuspended(false);
}

void TSoundSetupForm::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TSoundSetupForm::SetSuspended(bool suspended) {
    if (!suspended && PreviewPlaying)
        return; // the preview's end lets them play
    if (Desk)
        Desk->SetSoundsSuspended(suspended);
}

void TSoundSetupForm::FormShow() {
    Setup = ParseSoundSetup(SetupText);
    FileNameEdit->setText(Setup.FileName);
    VolumeTrackBar->setValue(100 - int(Setup.Volume));
    BalanceTrackBar->setValue(int(Setup.Balance));
    SetSuspended(true);
}

void TSoundSetupForm::FormClose() {
    ValidateFileName();
    SetSuspended(false);
}

void TSoundSetupForm::TrackBarChange(QSlider* bar) {
    // Both bars rest only on multiples of 5.
    const int position = bar->value();
    const int r = position % 5;
    if (r == 1 || r == 2)
        bar->setValue(position - r);
    else if (r == 3 || r == 4)
        bar->setValue(position + 5 - r);
}

void TSoundSetupForm::ValidateFileName() {
    QString name = FileNameEdit->text();
    // A bare name means a file in the sounds folder.
    if (!name.contains(QLatin1Char('/')) && name.trimmed() != DefaultSoundName) {
        name = SoundsDir() + QLatin1Char('/') + name;
        FileNameEdit->setText(name);
    }
    if (name == DefaultSoundName || !QFileInfo(name).isFile()) {
        FileNameEdit->setText(DefaultSoundName);
        SetupText = DefaultSoundName;
    }
}

void TSoundSetupForm::SelectSoundButtonClick() {
    SoundsFolder = EnsureSoundsDir();
    zkPrompts::TFileDialogSpec spec;
    spec.DefaultExt = QStringLiteral("wav");
    spec.Filter = tr("Sounds (*.wav)|*.wav");
    spec.InitialDir = SoundsFolder;
    spec.FileMustExist = true;
    spec.PathMustExist = true;
    QString name;
    if (zkPrompts::OpenFileName(spec, name, this))
        FileNameEdit->setText(name);
}

void TSoundSetupForm::PlayButtonClick() {
    const QPointer<TSoundSetupForm> self(this);
    // Off at once, so clicks while an alert sound finishes do not pile up previews.
    PlayButton->setEnabled(false);
    // An alert sound may still be playing on the sound thread; its end arrives as an event.
    bool waited = false;
    for (;;) {
        const TSoundPlayForm* player = SoundPlayForm();
        if (!player || !player->Busy())
            break;
        waited = true;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!self)
            return;
    }
    // Closed while waiting: the preview is no longer wanted.
    if (waited && !isVisible()) {
        PlayButton->setEnabled(true);
        return;
    }
    ValidateFileName();
    // The preview plays on a worker thread, so a long file never freezes the client; events
    // keep running here until it ends (alert sounds are held back while this dialog is open).
    QThread* worker = QThread::create([setup = BuildSetupText()] { PlaySoundSetup(setup); });
    QEventLoop loop;
    connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    PreviewPlaying = true;
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    PreviewPlaying = false;
    // Closed while the preview played: queued sounds may play from now on. (A dialog destroyed
    // meanwhile went with its desk.)
    if (!self)
        return;
    if (!isVisible())
        SetSuspended(false);
    PlayButton->setEnabled(true);
}
