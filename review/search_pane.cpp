#include "review/search_pane.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace adcard {

namespace {

constexpr std::size_t kKept = 10000; // answers listed; all are counted

QString seconds(const RecordedRun &run, int64_t scan)
{
    const double rate = run.scansPerSecond();
    return rate > 0 ? QString::number(double(scan) / rate, 'f', int(std::ceil(std::log10(rate))))
                    : QString::number(scan);
}

QString countText(int64_t total, std::size_t kept, const query::Status &s)
{
    QString t = total > int64_t(kept) ? QStringLiteral("共 %1 个（列出前 %2 个）").arg(total).arg(kept)
                                      : QStringLiteral("共 %1 个").arg(total);
    if (s.outcome == query::Outcome::Cancelled)
        t += QStringLiteral("，已停止：至少 %1 个").arg(total);
    if (s.partial)
        t += QStringLiteral("（记录仍在进行，截至已写入的数据）");
    return t;
}

struct Answer {
    std::vector<SearchPane::Row> rows;
    QString count;
    bool failed = false;
    std::optional<query::LevelResult> level; // a level search's whole answer, kept to go on from
};

// A code of channel c in the channel's unit.
QString value(const RecordedRun &run, int c, int16_t code)
{
    const Calibration cal = run.info().channelCalibration(c);
    return QString::number(cal.volts(code), 'f', valueDecimals(cal)) + QStringLiteral(" ") +
           QString::fromStdString(channelUnit(run.info().units, c).unit);
}

QString name(const RecordedRun &run, int c) { return QString::fromStdString(channelName(run.info().units, c)); }

QString duration(const RecordedRun &run, int64_t scans)
{
    return QString::number(double(scans) / std::max(1.0, run.scansPerSecond()), 'g', 6) + QStringLiteral(" s");
}

// Each crossing into the condition, with how long it stayed there.
// `before`: the answer over the run as it was, when only what it gained is
// to be read.
Answer levelAnswer(const RecordedRun &run, query::Edge edge, int channel, double v, const query::Control &control,
                   std::optional<query::LevelResult> before)
{
    const query::LevelQuery q{channel, v, edge, 0, 0, query::kWholeRun, kKept};
    const auto r = before ? query::findCrossingsSince(run, q, std::move(*before), control)
                          : query::findCrossings(run, q, control);
    Answer a;
    if (r.outcome == query::Outcome::Complete)
        a.level = r;
    const QString ch = name(run, channel);
    std::size_t i = 0;
    for (std::size_t k = 0; k < r.crossings.size(); ++k) {
        const query::Crossing &c = r.crossings[k];
        while (i < r.intervals.size() && r.intervals[i].start < c.scan)
            ++i;
        bool within = i < r.intervals.size() && r.intervals[i].start == c.scan;
        int64_t end = within ? r.intervals[i].end : c.scan + 1;
        // Both ways, the intervals are the times above: below lasts until
        // the next crossing, which is a rising one.
        if (!within && edge == query::Edge::Either && !c.rising && k + 1 < r.crossings.size()) {
            within = true;
            end = r.crossings[k + 1].scan;
        }
        a.rows.push_back({c.scan, end,
                          {seconds(run, c.scan), ch,
                           within ? value(run, channel, c.code) + QStringLiteral(" · ") + duration(run, end - c.scan)
                                  : value(run, channel, c.code)}});
    }
    a.failed = r.outcome == query::Outcome::Failed;
    a.count = a.failed ? QString::fromStdString(r.error) : countText(r.total, r.crossings.size(), r);
    return a;
}

Answer peakAnswer(const RecordedRun &run, bool highest, int channel, double prominence, const query::Control &control)
{
    const auto r = query::findPeaks(run, {channel, highest, 100, 0, 0, query::kWholeRun, prominence}, control);
    Answer a;
    for (const query::Peak &p : r.peaks)
        a.rows.push_back({p.scan, p.scan + 1, {seconds(run, p.scan), name(run, channel), value(run, channel, p.code)}});
    a.failed = r.outcome == query::Outcome::Failed;
    a.count = a.failed ? QString::fromStdString(r.error) : countText(int64_t(r.peaks.size()), r.peaks.size(), r);
    return a;
}

Answer digitalAnswer(const RecordedRun &run, int bit, const query::Control &control)
{
    const auto r = query::findChanges(run, {0, bit, false, 0xff, 0, 0, query::kWholeRun, kKept}, control);
    Answer a;
    for (const query::DigitalEvent &e : r.events)
        a.rows.push_back({e.scan, e.scan + 1, {seconds(run, e.scan), QStringLiteral("DI0"),
                                               QStringLiteral("%1 → %2").arg(e.before, 0, 16).arg(e.after, 0, 16)}});
    a.count = countText(r.total, r.events.size(), r);
    return a;
}

Answer lossAnswer(const RecordedRun &run)
{
    const auto r = query::findLosses(run, 0, query::kWholeRun, kKept);
    Answer a;
    for (const ScanGap &g : r.holes)
        a.rows.push_back({g.first, g.end, {seconds(run, g.first), QStringLiteral("缺失"), duration(run, g.end - g.first)}});
    for (const RecordedMarker &m : r.markers)
        a.rows.push_back({m.scan, m.scan + 1, {seconds(run, m.scan), QStringLiteral("标记"), QString::fromStdString(m.text)}});
    std::stable_sort(a.rows.begin(), a.rows.end(),
                     [](const SearchPane::Row &x, const SearchPane::Row &y) { return x.first < y.first; });
    a.count = countText(r.totalHoles, r.holes.size(), r) + QStringLiteral("缺失，%1 个标记").arg(r.markers.size());
    return a;
}

} // namespace

SearchPane::SearchPane(std::function<void(int64_t, int64_t)> zoom, QWidget *parent)
    : QWidget(parent), zoom_(std::move(zoom))
{
    kind_ = new QComboBox(this);
    kind_->addItems({QStringLiteral("高于电平"), QStringLiteral("低于电平"), QStringLiteral("穿越电平（双向）"),
                     QStringLiteral("最高峰值"), QStringLiteral("最低峰值"), QStringLiteral("数字输入变化"),
                     QStringLiteral("缺失与标记")});
    channel_ = new QComboBox(this);
    for (int c = 1; c <= 4; ++c)
        channel_->addItem(QStringLiteral("通道%1").arg(c));
    level_ = new QDoubleSpinBox(this);
    level_->setRange(-5.0, 5.0);
    level_->setDecimals(3);
    level_->setSuffix(QStringLiteral(" V"));
    prominence_ = new QLineEdit(this);
    prominence_->setClearButtonEnabled(true);
    prominence_->setToolTip(QStringLiteral("峰值两侧须回落的幅度，留空为默认值（8 个码与满量程 1 % 中较大者）"));
    bit_ = new QSpinBox(this);
    bit_->setRange(-1, 7);
    bit_->setSpecialValueText(QStringLiteral("整个端口"));
    go_ = new QPushButton(QStringLiteral("搜索"), this);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->hide();
    count_ = new QLabel(this);
    count_->setWordWrap(true);
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({QStringLiteral("时间 (s)"), QStringLiteral("通道"), QStringLiteral("值 / 时长")});
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->installEventFilter(this);
    auto *csv = new QPushButton(QStringLiteral("导出列表 CSV…"), this);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("类型"), kind_);
    form->addRow(QStringLiteral("通道"), channel_);
    form->addRow(QStringLiteral("电平"), level_);
    form->addRow(QStringLiteral("突出度"), prominence_);
    form->addRow(QStringLiteral("DI0 位"), bit_);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(form);
    layout->addWidget(go_);
    layout->addWidget(progress_);
    layout->addWidget(count_);
    layout->addWidget(list_, 1);
    layout->addWidget(csv);

    connect(kind_, &QComboBox::currentIndexChanged, this, &SearchPane::kindChanged);
    connect(channel_, &QComboBox::currentIndexChanged, this, &SearchPane::channelChanged);
    connect(go_, &QPushButton::clicked, this, [this] { worker_.joinable() ? interrupt() : start(); });
    connect(csv, &QPushButton::clicked, this, &SearchPane::exportList);
    connect(list_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item) {
        const std::size_t i = std::size_t(list_->indexOfTopLevelItem(item));
        if (i < rows_.size())
            zoom_(rows_[i].first, rows_[i].end);
    });
    connect(list_, &QTreeWidget::itemClicked, list_, &QTreeWidget::itemActivated);
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this] { progress_->setValue(progressPermille_.load()); });
    poll->start(100);
    kindChanged();
}

SearchPane::~SearchPane() { stop(); }

void SearchPane::kindChanged()
{
    const int k = kind_->currentIndex();
    channel_->setEnabled(k != Digital && k != Holes);
    level_->setEnabled(k == Above || k == Below || k == Either);
    prominence_->setEnabled(k == Highest || k == Lowest);
    bit_->setEnabled(k == Digital);
}

void SearchPane::channelChanged()
{
    const int c = std::max(0, channel_->currentIndex());
    const Calibration cal = run_ ? run_->info().channelCalibration(c) : kPanelCalibration;
    const auto [lo, hi] = valueSpan(cal, 0, 4095);
    level_->setDecimals(std::max(3, valueDecimals(cal) - 1));
    level_->setRange(lo, hi);
    level_->setSingleStep(std::pow(10.0, std::floor(std::log10(std::max(1e-12, std::fabs(hi - lo)))) - 2));
    const QString unit = QString::fromStdString(run_ ? channelUnit(run_->info().units, c).unit : std::string("V"));
    level_->setSuffix(QStringLiteral(" ") + unit);
    // The default shown where nothing is typed, in the channel's unit.
    prominence_->setPlaceholderText(
        QStringLiteral("默认 %1 %2").arg(QString::number(query::defaultProminence(cal), 'g', 4), unit));
}

std::optional<double> SearchPane::prominence() const
{
    const QString text = prominence_->text().trimmed();
    if (text.isEmpty())
        return -1.0;
    // Either decimal point: "0.5" as adcard-review takes it, or the locale's.
    bool ok = false;
    double v = QLocale::c().toDouble(text, &ok);
    if (!ok)
        v = QLocale().toDouble(text, &ok);
    if (!ok || !std::isfinite(v) || v < 0)
        return std::nullopt;
    return v;
}

void SearchPane::stop()
{
    ++generation_;
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
    cancel_ = false;
}

void SearchPane::interrupt()
{
    // The worker ends early and its answer, marked as stopped, comes back
    // through the queue like any other, resetting the button and the bar. A
    // stopped search is not asked again as the run grows.
    cancel_ = true;
    asked_ = false;
    go_->setEnabled(false);
}

void SearchPane::wait()
{
    if (worker_.joinable())
        worker_.join();
    QCoreApplication::sendPostedEvents(this);
}

void SearchPane::setRun(const RecordedRun *run)
{
    stop();
    run_ = run;
    // The channels by the names the run gives, and the level in the unit of
    // the channel chosen.
    const int chosen = channel_->currentIndex();
    channel_->clear();
    for (int c = 0; c < (run ? run->channels() : 4); ++c)
        channel_->addItem(run ? name(*run, c) : QStringLiteral("通道%1").arg(c + 1));
    channel_->setCurrentIndex(chosen >= 0 && chosen < channel_->count() ? chosen : 0);
    channelChanged();
    asked_ = false;
    followed_.reset();
    rows_.clear();
    list_->clear();
    count_->clear();
    progress_->hide();
    go_->setText(QStringLiteral("搜索"));
    go_->setEnabled(true);
}

void SearchPane::runGrew()
{
    if (asked_ && !worker_.joinable())
        start();
}

void SearchPane::start()
{
    if (!run_)
        return;
    const std::optional<double> prominence = this->prominence();
    if (!prominence) {
        show({}, QStringLiteral("突出度须为不小于 0 的数，或留空用默认值"), true);
        return;
    }
    stop();
    asked_ = true;
    progressPermille_ = 0;
    progress_->setValue(0);
    progress_->show();
    go_->setText(QStringLiteral("停止"));
    const Kind kind = Kind(kind_->currentIndex());
    const int channel = channel_->currentIndex();
    const double volts = level_->value();
    // The same level search on the same run: only the scans added since.
    std::optional<query::LevelResult> before;
    if (followed_ && followed_->kind == kind && followed_->channel == channel && followed_->level == volts)
        before = followed_->result;
    followed_.reset();
    worker_ = std::thread([this, kind, channel, volts, p = *prominence, bit = bit_->value(), g = generation_,
                           before = std::move(before)]() mutable {
        ask(kind, channel, volts, p, bit, g, std::move(before));
    });
}

void SearchPane::ask(Kind kind, int channel, double volts, double prominence, int bit, int generation,
                     std::optional<query::LevelResult> before)
{
    const RecordedRun &run = *run_;
    query::Control control{&cancel_, [this](double share) { progressPermille_ = int(share * 1000); }};
    Answer a;
    switch (kind) {
    case Above: a = levelAnswer(run, query::Edge::Rising, channel, volts, control, std::move(before)); break;
    case Below: a = levelAnswer(run, query::Edge::Falling, channel, volts, control, std::move(before)); break;
    case Either: a = levelAnswer(run, query::Edge::Either, channel, volts, control, std::move(before)); break;
    case Highest:
    case Lowest: a = peakAnswer(run, kind == Highest, channel, prominence, control); break;
    case Digital: a = digitalAnswer(run, bit, control); break;
    case Holes: a = lossAnswer(run); break;
    }
    QMetaObject::invokeMethod(
        this,
        [this, a = std::move(a), generation, kind, channel, volts]() mutable {
            if (generation != generation_)
                return;
            if (worker_.joinable())
                worker_.join();
            cancel_ = false;
            if (a.level)
                followed_ = Followed{kind, channel, volts, std::move(*a.level)};
            show(std::move(a.rows), a.count, a.failed);
        },
        Qt::QueuedConnection);
}

void SearchPane::show(std::vector<Row> rows, QString count, bool failed)
{
    progress_->hide();
    go_->setText(QStringLiteral("搜索"));
    go_->setEnabled(true);
    rows_ = std::move(rows);
    list_->clear();
    QList<QTreeWidgetItem *> items;
    for (const Row &r : rows_)
        items.push_back(new QTreeWidgetItem(r.texts));
    list_->addTopLevelItems(items);
    count_->setText(count);
    count_->setStyleSheet(failed ? QStringLiteral("color: #b00000") : QString());
}

void SearchPane::step(int by)
{
    if (rows_.empty())
        return;
    const int at = list_->currentItem() ? list_->indexOfTopLevelItem(list_->currentItem()) : -1;
    const int next = std::clamp(at + by, 0, int(rows_.size()) - 1);
    list_->setCurrentItem(list_->topLevelItem(next));
    zoom_(rows_[std::size_t(next)].first, rows_[std::size_t(next)].end);
}

bool SearchPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_N || key == Qt::Key_P) {
            step(key == Qt::Key_N ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SearchPane::exportList()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出列表 CSV…"), QString(),
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        QByteArray text = "time (s),where,value\n";
        for (const Row &r : rows_) {
            QStringList cells;
            for (QString c : r.texts)
                cells.push_back(c.contains(u',') ? u'"' + c.replace(u'"', QStringLiteral("\"\"")) + u'"' : c);
            text += cells.join(u',').toUtf8() + '\n';
        }
        f.write(text);
    }
    if (!f.commit())
        QMessageBox::warning(this, QStringLiteral("导出列表 CSV…"),
                             QStringLiteral("无法写入 %1：%2").arg(path, f.errorString()));
}

} // namespace adcard

// Its meta-object code, compiled with the file rather than on its own.
#include "moc_search_pane.cpp"
