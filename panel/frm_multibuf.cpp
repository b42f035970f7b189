#include "frm_multibuf.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

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
            auto *e = new QLineEdit(qstr(def.text), owner);
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
                l->adjustSize();
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
            labels_.insert(key, {l, autoSize});
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
    const QString tip = block->toolTip();
    block->setToolTip(tip.isEmpty() ? text : tip + QLatin1Char('\n') + text);
}

void FrmMultiBuf::setCaption(std::string_view control, int index, std::string_view utf8)
{
    const auto it = labels_.constFind(objectKey(control, index));
    if (it == labels_.constEnd()) {
        qWarning("FrmMultiBuf: no label %s", objectNameFor(control, index).c_str());
        return;
    }
    QLabel *label = it->label;
    const QString text = qstr(utf8);
    const QString old = label->text();
    if (old == text)
        return; // the timer sets the same captions again and again
    // Re-measuring a label lays its text out several times; counters that
    // keep their width from tick to tick need only the new text.
    const QFontMetrics metrics = label->fontMetrics();
    const bool resize = it->autoSize && metrics.horizontalAdvance(old) != metrics.horizontalAdvance(text);
    label->setText(text);
    if (resize)
        label->adjustSize();
}

QLineEdit *FrmMultiBuf::textBox(std::string_view control) const
{
    return qobject_cast<QLineEdit *>(widgets_.value(qstr(control)));
}

std::string FrmMultiBuf::text(std::string_view control) const
{
    const QLineEdit *e = textBox(control);
    return e ? e->text().toStdString() : std::string();
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

void FrmMultiBuf::setInputProblem(std::string_view control, std::string_view utf8Message)
{
    QLineEdit *e = textBox(control);
    if (!e)
        return;
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
        acquisition_.onUnload();
    }
    event->accept();
}

} // namespace adcard
