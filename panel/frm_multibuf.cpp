#include "panel/frm_multibuf.h"

#include "panel/driver_problem.h"

#include <QCloseEvent>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolTip>

#include <limits>
#include <utility>

namespace adcard {

namespace {

QString qstr(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString objectKey(std::string_view name, int index) { return qstr(objectNameFor(name, index)); }

using Handler = void (Acquisition::*)();

Handler clickHandler(std::string_view name)
{
    if (name == "cmdStart")
        return &Acquisition::onStart;
    if (name == "cmdStop")
        return &Acquisition::onStop;
    if (name == "cmdExit")
        return &Acquisition::onExit;
    if (name == "cmdSWO")
        return &Acquisition::onDigitalOutput;
    return nullptr;
}

const QColor kReadoutBackground(255, 192, 128);
const QColor kInputProblemBackground(255, 200, 200);

} // namespace

FrmMultiBuf::FrmMultiBuf(DllDef &dll, std::string decimalSeparator, QWidget *parent)
    : QWidget(parent), acquisition_(dll, *this, std::move(decimalSeparator))
{
    const QScreen *scr = screen() ? screen() : QGuiApplication::primaryScreen();
    dpiX_ = scr ? scr->logicalDotsPerInchX() : 96.0;
    dpiY_ = scr ? scr->logicalDotsPerInchY() : 96.0;

    setObjectName(QStringLiteral("FrmMultiBuf"));
    setWindowTitle(QStringLiteral("多缓冲区采集方式"));
    // Every position is fixed in twips, so nothing may re-lay out on resize.
    setFixedSize(twipsToPixels(kClientWidthTwips, dpiX_), twipsToPixels(kClientHeightTwips, dpiY_));

    createControls();
    asciiAdvance64_.fill(-1);
    for (std::size_t i = 0; i < kCaptionCount; ++i) {
        const ControlName c = kCaptionControls[i];
        captionLabels_[i] = qobject_cast<QLabel *>(control(objectKey(c.name, c.index)));
        Q_ASSERT(captionLabels_[i]);
        // These captions are ASCII in a face without kerning or ligatures, so
        // OpenType shaping only costs time on every repaint: each glyph is the
        // character's own at its own advance. Scripts that need shaping are
        // still shaped.
        QFont unshaped = captionLabels_[i]->font();
        unshaped.setStyleStrategy(QFont::PreferNoShaping);
        captionLabels_[i]->setFont(unshaped);
        captionWritten_[i] = captionLabels_[i]->text().toStdString();
        for (const ControlDef &def : controlTable())
            if (def.name == c.name && def.index == c.index)
                captionAutoSize_[i] = def.kind == ControlKind::Label;
        captionExtraWidth_[i] = captionLabels_[i]->width() - textWidth(captionLabels_[i]->text(), captionLabels_[i]);
    }
    for (std::size_t i = 0; i < kTextBoxCount; ++i) {
        const ControlName c = kTextBoxControls[i];
        textBoxes_[i] = qobject_cast<QLineEdit *>(control(objectKey(c.name, c.index)));
        Q_ASSERT(textBoxes_[i]);
    }
    setUpTabOrder();
}

FrmMultiBuf::~FrmMultiBuf() = default;

QRect FrmMultiBuf::pixelRect(const ControlDef &def) const
{
    return {twipsToPixels(def.left, dpiX_), twipsToPixels(def.top, dpiY_),
            twipsToPixels(def.width, dpiX_), twipsToPixels(def.height, dpiY_)};
}

void FrmMultiBuf::createControls()
{
    for (const ControlDef &def : controlTable()) {
        const QString key = objectKey(def.name, def.index);
        QWidget *owner = def.parent.empty() ? this : widgets_.value(qstr(def.parent));
        Q_ASSERT(owner);
        QWidget *w = nullptr;

        switch (def.kind) {
        case ControlKind::Button: {
            auto *b = new QPushButton(qstr(def.text), owner);
            // Enter must not press a button the operator did not choose.
            b->setAutoDefault(false);
            b->setDefault(false);
            if (Handler h = clickHandler(def.name))
                connect(b, &QPushButton::clicked, this, [this, h] { (acquisition_.*h)(); });
            b->setGeometry(pixelRect(def));
            w = b;
            break;
        }
        case ControlKind::TextBox: {
            auto *e = new QLineEdit(owner);
            // A text box has no length limit; Qt's default would cut at 32767.
            e->setMaxLength(std::numeric_limits<int>::max());
            e->setText(qstr(def.text));
            e->setGeometry(pixelRect(def));
            w = e;
            break;
        }
        case ControlKind::Frame: {
            auto *g = new QGroupBox(qstr(def.text), owner);
            g->setFocusPolicy(Qt::NoFocus);
            g->setGeometry(pixelRect(def));
            w = g;
            break;
        }
        case ControlKind::Label:
        case ControlKind::FixedLabel: {
            auto *l = new QLabel(owner);
            l->setTextFormat(Qt::PlainText);
            l->setWordWrap(false);
            l->setFocusPolicy(Qt::NoFocus);
            l->setText(qstr(def.text));
            const bool autoSize = def.kind == ControlKind::Label;
            if (autoSize) {
                l->move(pixelRect(def).topLeft());
                l->setFixedSize(l->sizeHint());
                // Opaque in the window's own colour: a new caption repaints the
                // label alone, never the window or the frame behind it.
                l->setAutoFillBackground(true);
            } else {
                const QRect r = pixelRect(def);
                l->setGeometry(r);
                l->setFixedSize(r.size());
                l->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
                l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                l->setAutoFillBackground(true);
                QPalette pal = l->palette();
                pal.setColor(QPalette::Window, kReadoutBackground);
                l->setPalette(pal);
            }
            w = l;
            break;
        }
        case ControlKind::Timer:
            timer_ = new QTimer(this);
            timer_->setObjectName(key);
            timer_->setInterval(kTimerIntervalMs);
            connect(timer_, &QTimer::timeout, this, [this] { acquisition_.onTick(); });
            break;
        }

        if (w) {
            w->setObjectName(key);
            widgets_.insert(key, w);
        }
    }
}

void FrmMultiBuf::setUpTabOrder()
{
    const char *order[] = {"cmdExit", "cmdStart", "cmdSWO", "txtSWO_0", "cmdStop", "txtswChn"};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(control(QLatin1String(order[i - 1])), control(QLatin1String(order[i])));
    // The chain is circular and every other control refuses focus, so Tab
    // from txtswChn comes back to cmdExit.
    control(QStringLiteral("cmdExit"))->setFocus();
}

void FrmMultiBuf::load() { acquisition_.onLoad(); }

void FrmMultiBuf::addDriverProblem(const QString &text)
{
    QWidget *block = control(QStringLiteral("lblBlock"));
    // A plain tooltip is as wide as its longest line: keep it, with the
    // tooltip's own margins, inside the window.
    const int margins = 2 * (1 + style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth)) + 2;
    const QString lines = wrapToWidth(text, QToolTip::font(), width() - margins);
    const QString tip = block->toolTip();
    block->setToolTip(tip.isEmpty() ? lines : tip + QLatin1Char('\n') + lines);
}

int FrmMultiBuf::textWidth(const QString &text, const QLabel *label) const
{
    // The logic writes ASCII only: digits, blanks, signs, hex letters,
    // "Error=". Summing advances looked up once shapes nothing; the font
    // has no kerning, so the sum, in the 1/64 px a text layout counts in and
    // rounded up as it does, is the width the label lays out.
    int width64 = 0;
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x20 || u >= 0x20 + asciiAdvance64_.size())
            return label->fontMetrics().horizontalAdvance(text);
        int &advance = asciiAdvance64_[u - 0x20];
        if (advance < 0) // every label has the window's font
            advance = qRound(QFontMetricsF(font()).horizontalAdvance(ch) * 64);
        width64 += advance;
    }
    return (width64 + 63) / 64;
}

void FrmMultiBuf::setCaption(Caption caption, std::string_view utf8)
{
    const auto i = static_cast<std::size_t>(caption);
    QLabel *label = captionLabels_[i];
    if (captionWritten_[i] == utf8)
        return; // the timer sets the same captions again and again
    captionWritten_[i] = utf8;
    const QString text = qstr(utf8);
    if (captionAutoSize_[i]) {
        // A label of fixed size posts no layout request to its parent when its
        // text changes; it is resized only when the text's width changes.
        const QSize size(captionExtraWidth_[i] + textWidth(text, label), label->height());
        if (size != label->size())
            label->setFixedSize(size);
    }
    label->setText(text);
}

std::string FrmMultiBuf::text(TextBox box) const
{
    return textBoxes_[static_cast<std::size_t>(box)]->text().toStdString();
}

void FrmMultiBuf::setTimerEnabled(bool enabled)
{
    if (!enabled)
        timer_->stop();
    else if (!timer_->isActive())
        timer_->start(); // enabling a running timer must not restart its interval
}

bool FrmMultiBuf::timerEnabled() const { return timer_->isActive(); }

void FrmMultiBuf::unload() { close(); }

void FrmMultiBuf::setInputProblem(TextBox box, std::string_view utf8Message)
{
    QLineEdit *e = textBoxes_[static_cast<std::size_t>(box)];
    if (utf8Message.empty()) {
        e->setPalette(QPalette()); // back to the inherited colours
        e->setToolTip(QString());
        return;
    }
    QPalette pal = e->palette();
    pal.setColor(QPalette::Base, kInputProblemBackground);
    e->setPalette(pal);
    e->setToolTip(qstr(utf8Message));
}

void FrmMultiBuf::closeEvent(QCloseEvent *event)
{
    // Exit closes the window too; the unload step must still run only once.
    if (!unloaded_) {
        unloaded_ = true;
        // The timer goes with the window: no tick may follow the unload's
        // StopIntr, however long the driver takes to stop.
        timer_->stop();
        acquisition_.onUnload();
    }
    event->accept();
}

} // namespace adcard

// Its meta-object code, compiled with the file rather than on its own.
#include "moc_frm_multibuf.cpp"
