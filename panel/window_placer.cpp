#include "panel/window_placer.h"

#include "channels/user_settings.h"

#include "panel/controls.h"
#include "panel/window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace adcard {

namespace {

// How long after a window first shows its frame is still corrected: the
// window manager frames it (and says how thick the frame is) only after it
// is mapped.
constexpr int kSettleMs = 1500;

// A frame's margins before the window manager has said: a title bar and thin
// borders. Only the first placement uses it; the real ones follow.
const QMargins kFrameGuess(1, 24, 1, 4);

QMargins frameMargins(const QWidget &w)
{
    const QRect f = w.frameGeometry(), g = w.geometry();
    return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

// The real margins once the window manager has framed `w`, else those of
// `framed` (another top-level window, framed alike), else a guess.
QMargins marginsOf(const QWidget &w, const QWidget *framed = nullptr)
{
    if (const QMargins m = frameMargins(w); !m.isNull())
        return m;
    if (framed)
        if (const QMargins m = frameMargins(*framed); !m.isNull())
            return m;
    return w.isVisible() ? QMargins() : kFrameGuess; // shown unframed: there is no window manager
}

QScreen *screenOf(const QWidget &w)
{
    return w.screen() ? w.screen() : QGuiApplication::primaryScreen();
}

QRect availableArea(const QWidget &w)
{
    const QScreen *s = screenOf(w);
    return s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

void setFrame(QWidget &w, const QRect &frame, const QMargins &margins)
{
    const QRect client = frame.marginsRemoved(margins);
    if (client != w.geometry())
        w.setGeometry(client);
}

// Runs `place` again while the window manager frames the windows: during
// the first moments after `w` shows, then goes. Framing a window need not
// move or resize it, so it is looked at on a clock as well as on its events.
class Settler final : public QObject {
public:
    Settler(QWidget &w, std::vector<QWidget *> also, std::function<void()> place)
        : QObject(&w), place_(std::move(place))
    {
        also.push_back(&w);
        for (QWidget *watched : also) {
            watched->installEventFilter(this);
            watched_.emplace_back(watched);
        }
        if (w.isVisible())
            start();
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        const QEvent::Type t = event->type();
        if (t == QEvent::Show)
            start();
        if (t == QEvent::Show || t == QEvent::Move || t == QEvent::Resize)
            again();
        return false;
    }

private:
    void start()
    {
        if (clock_)
            return;
        clock_ = new QTimer(this);
        connect(clock_, &QTimer::timeout, this, [this] {
            again();
            if (++ticks_ * kSettleTickMs >= kSettleMs)
                finish();
        });
        clock_->start(kSettleTickMs);
    }

    void again()
    {
        if (!clock_ || placing_)
            return;
        placing_ = true;
        place_();
        placing_ = false;
    }

    void finish()
    {
        clock_->stop();
        for (const QPointer<QWidget> &w : watched_)
            if (w)
                w->removeEventFilter(this);
        deleteLater();
    }

    static constexpr int kSettleTickMs = 100;
    std::function<void()> place_;
    std::vector<QPointer<QWidget>> watched_;
    QTimer *clock_ = nullptr;
    int ticks_ = 0;
    bool placing_ = false;
};

QString key(const QString &window) { return QStringLiteral("windows/") + window; }

// Where the window was left, as its frame with `margins`, on the screens of
// now. What is kept is the client area: the frame's margins are known only
// once the window manager has framed the window, and a guess at them,
// added and taken off again, must not move the window each time.
std::optional<QRect> remembered(const QString &window, const QWidget &w, const QMargins &margins)
{
    const QRect saved = userSettings().value(key(window)).toRect();
    if (!saved.isValid())
        return std::nullopt;
    std::vector<QRect> areas;
    for (const QScreen *s : QGuiApplication::screens())
        areas.push_back(s->availableGeometry());
    return restoreFrame(saved.marginsAdded(margins), areas, availableArea(w));
}

// Keeps the window's place as it is hidden or closed, for the next one.
class Rememberer final : public QObject {
public:
    Rememberer(QWidget &w, QString name) : QObject(&w), window_(w), name_(std::move(name))
    {
        w.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && window_.isWindow() && !window_.isMinimized())
            userSettings().setValue(key(name_), window_.geometry());
        return false;
    }

private:
    QWidget &window_;
    QString name_;
};

QRect panelButtons(const QWidget &panel)
{
    QRect all;
    for (const QPushButton *b : panel.findChildren<QPushButton *>())
        all |= QRect(b->mapTo(&panel, QPoint(0, 0)), b->size()).translated(panel.geometry().topLeft());
    return all;
}

void placePanelNow(QWidget &panel)
{
    const QScreen *s = screenOf(panel);
    if (!s)
        return;
    const QPoint design(twipsToPixels(kClientLeftTwips, s->logicalDotsPerInchX()),
                        twipsToPixels(kClientTopTwips, s->logicalDotsPerInchY()));
    const QRect client = panelClientRect(s->geometry(), s->availableGeometry(), panel.size(), marginsOf(panel), design);
    if (client != panel.geometry())
        panel.setGeometry(client);
}

} // namespace

void placePanel(QWidget &panel)
{
    placePanelNow(panel);
    new Settler(panel, {}, [p = &panel] { placePanelNow(*p); });
}

void placeHistoryWindow(QWidget &history, QWidget &panel)
{
    // The size it asks for: the last one the operator gave, else its own.
    const QRect leftClient = userSettings().value(key(QStringLiteral("history"))).toRect();
    const QSize client = leftClient.isValid() ? leftClient.size() : history.size();
    new Rememberer(history, QStringLiteral("history"));
    // Again as the frames' margins become known: from the client area kept.
    auto place = [&history, &panel, client, useLeft = leftClient.isValid()]() mutable {
        const QMargins m = marginsOf(history, &panel);
        const QRect buttons = panelButtons(panel);
        const QSize least = history.minimumSizeHint().expandedTo(history.minimumSize()).grownBy(m);
        const auto left = useLeft ? remembered(QStringLiteral("history"), history, m) : std::nullopt;
        if (left && !left->intersects(buttons.marginsAdded(frameMargins(panel)))) {
            // No smaller than the window can be now: it would grow past the screen.
            QRect frame = *left;
            frame.setSize(frame.size().expandedTo(least));
            setFrame(history, fitWithin(frame, availableArea(panel)), m);
            return;
        }
        useLeft = false; // once beside the panel, it stays beside
        HistoryRequest r;
        r.panel = panel.geometry().marginsAdded(marginsOf(panel));
        r.buttons = buttons;
        r.area = availableArea(panel);
        r.wanted = client.grownBy(m);
        r.minimum = least;
        const HistorySpot spot = placeHistory(r);
        if (spot.movePanel)
            panel.move(spot.panelTopLeft); // frame included, as Qt moves a window
        setFrame(history, spot.frame, m);
    };
    place();
    new Settler(history, {&panel}, place);
}

void placeReviewWindow(QWidget &review)
{
    const QRect area = availableArea(review);
    const QMargins m = marginsOf(review);
    QRect frame;
    if (const auto left = remembered(QStringLiteral("review"), review, m)) {
        frame = *left;
    } else {
        frame = QRect(QPoint(), review.size().grownBy(m));
        frame.moveCenter(area.center());
    }
    setFrame(review, fitWithin(frame, area), m);
    new Rememberer(review, QStringLiteral("review"));
    new Settler(review, {}, [&review] {
        const QRect at = review.frameGeometry();
        const QRect fitted = fitWithin(at, availableArea(review));
        if (fitted != at)
            setFrame(review, fitted, marginsOf(review));
    });
}

} // namespace adcard
