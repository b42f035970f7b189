#include "review/spectrum_pane.h"

#include "recording/recording_reader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include <cmath>

namespace adcard {

namespace {

QString stretchTime(const RecordedRun &run, int64_t scan)
{
    const double rate = run.scansPerSecond();
    return rate > 0 ? QString::number(double(scan) / rate, 'f', 3) + QStringLiteral(" s")
                    : QStringLiteral("扫描 %1").arg(scan);
}

QString scanCount(int64_t n) { return QLocale::c().toString(qint64(n)); }

QString csvCell(QString text)
{
    return text.contains(u',') || text.contains(u'"') ? u'"' + text.replace(u'"', QStringLiteral("\"\"")) + u'"' : text;
}

} // namespace

SpectrumPane::SpectrumPane(std::function<SpectrumRange()> range, QWidget *parent)
    : QWidget(parent), range_(std::move(range))
{
    channel_ = new QComboBox(this);
    scale_ = new QComboBox(this);
    scale_->addItems({QStringLiteral("dB"), QStringLiteral("线性")});
    log_ = new QCheckBox(QStringLiteral("对数频率"), this);
    go_ = new QPushButton(QStringLiteral("计算 A–B 频谱"), this);
    csv_ = new QPushButton(QStringLiteral("导出频谱 CSV…"), this);
    csv_->setEnabled(false);
    stretch_ = new QLabel(this);
    stretch_->setWordWrap(true);
    readout_ = new QLabel(this);
    canvas_ = new QWidget(this);
    canvas_->setMouseTracking(true);
    canvas_->installEventFilter(this);
    canvas_->setMinimumHeight(120);
    canvas_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("通道"), this));
    row->addWidget(channel_);
    row->addWidget(new QLabel(QStringLiteral("幅值"), this));
    row->addWidget(scale_);
    row->addWidget(log_);
    row->addWidget(go_);
    row->addStretch(1);
    row->addWidget(csv_);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(row);
    layout->addWidget(stretch_);
    layout->addWidget(canvas_, 1);
    layout->addWidget(readout_);

    connect(channel_, &QComboBox::currentIndexChanged, this, &SpectrumPane::showChannels);
    connect(scale_, &QComboBox::currentIndexChanged, this, [this](int i) {
        plot_.setDb(i == 0);
        canvas_->update();
    });
    connect(log_, &QCheckBox::toggled, this, [this](bool on) {
        plot_.setLogFrequency(on);
        canvas_->update();
    });
    connect(go_, &QPushButton::clicked, this, &SpectrumPane::start);
    connect(csv_, &QPushButton::clicked, this, &SpectrumPane::askCsv);
}

SpectrumPane::~SpectrumPane() { stop(); }

void SpectrumPane::stop()
{
    ++generation_;
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
    cancel_ = false;
}

void SpectrumPane::wait()
{
    if (worker_.joinable())
        worker_.join();
    QCoreApplication::sendPostedEvents(this);
}

void SpectrumPane::setRun(const RecordedRun *run)
{
    stop();
    run_ = run;
    result_ = {};
    const QSignalBlocker quiet(channel_);
    channel_->clear();
    channel_->addItem(QStringLiteral("全部通道"));
    for (int c = 0; run && c < run->channels(); ++c)
        channel_->addItem(QString::fromStdString(channelName(run->info().units, c)));
    stretch_->clear();
    readout_->clear();
    csv_->setEnabled(false);
    showChannels();
}

void SpectrumPane::start()
{
    if (!run_)
        return;
    stop();
    const SpectrumRange range = range_();
    go_->setEnabled(false);
    stretch_->setText(QStringLiteral("计算中…"));
    worker_ = std::thread([this, range, g = generation_, transform = transform_] {
        query::Control control{&cancel_, {}};
        query::SpectrumResult r = query::spectrum(*run_, {{}, range.first, range.end, transform}, control);
        QMetaObject::invokeMethod(
            this, [this, r = std::move(r), range, g]() mutable { show(std::move(r), range, g); }, Qt::QueuedConnection);
    });
}

void SpectrumPane::show(query::SpectrumResult result, SpectrumRange range, int generation)
{
    if (generation != generation_)
        return;
    if (worker_.joinable())
        worker_.join();
    go_->setEnabled(true);
    result_ = std::move(result);
    const bool failed = result_.outcome == query::Outcome::Failed;
    stretch_->setText(failed ? QStringLiteral("无法计算频谱：") + QString::fromStdString(result_.error)
                             : stretchText(result_, range));
    stretch_->setStyleSheet(failed ? QStringLiteral("color: #b00000") : QString());
    csv_->setEnabled(!failed && !result_.channels.empty());
    showChannels();
}

QString SpectrumPane::stretchText(const query::SpectrumResult &r, const SpectrumRange &range) const
{
    // Which scans the bins come from: a transform takes a length it does
    // quickly, and only the longest stretch without a hole.
    const QString where = range.cursors ? QStringLiteral("光标之间") : QStringLiteral("视图中");
    QString t = QStringLiteral("%1 个扫描（%2的 %3 个中），从 %4 到 %5，汉宁窗，分辨率 %6")
                    .arg(scanCount(r.scans), where, scanCount(range.end - range.first), stretchTime(*run_, r.first),
                         stretchTime(*run_, r.end))
                    .arg(r.resolutionHz > 0 ? QString::number(r.resolutionHz, 'g', 3) + QStringLiteral(" Hz")
                                            : QStringLiteral("1/%1 每扫描").arg(r.scans));
    // The offset apart: the Hann window leaves it to bins 0 and 1, which
    // are no peak.
    QStringList dc;
    for (const query::ChannelSpectrum &s : r.channels)
        dc << QStringLiteral("%1 %2 %3")
                  .arg(QString::fromStdString(channelName(run_->info().units, s.channel)))
                  .arg(s.dc, 0, 'g', 4)
                  .arg(QString::fromStdString(channelUnit(run_->info().units, s.channel).unit));
    if (!dc.isEmpty())
        t += QStringLiteral("；直流（均值）：") + dc.join(QStringLiteral("，"));
    if (r.hole)
        t += QStringLiteral("；范围内有缺失，取最长的连续段");
    if (r.shortened)
        t += QStringLiteral("；范围过长，取其开头");
    return t;
}

void SpectrumPane::showChannels()
{
    // All channels, or the one chosen; dB only where their units differ.
    std::vector<SpectrumTrace> traces;
    const int chosen = channel_->currentIndex() - 1;
    for (const query::ChannelSpectrum &s : result_.channels)
        if (chosen < 0 || s.channel == chosen) {
            const ChannelUnit u = channelUnit(run_->info().units, s.channel);
            traces.push_back({s.channel, QString::fromStdString(channelName(run_->info().units, s.channel)), u.unit, s.amplitude});
        }
    const bool rate = result_.resolutionHz > 0;
    // Bins 0 and 1 hold the offset's window lobe (query/spectrum.h).
    plot_.setTraces(std::move(traces), rate ? result_.resolutionHz : 1.0 / double(std::max<int64_t>(result_.scans, 1)),
                    rate ? QStringLiteral("Hz") : QStringLiteral("每扫描周期"), 2);
    scale_->setEnabled(!plot_.mixedUnits());
    scale_->setToolTip(plot_.mixedUnits() ? QStringLiteral("单位不同的通道只以 dB（各自相对 1 个单位）同画") : QString());
    canvas_->update();
}

QRect SpectrumPane::plotArea() const { return plot_.plotRect(canvas_->rect()); }

QString SpectrumPane::readoutAt(double x) const
{
    const std::optional<std::size_t> bin = plot_.binAt(x, plotArea());
    if (!bin)
        return {};
    QString t = QStringLiteral("%1 %2").arg(double(*bin) * plot_.binHz(), 0, 'g', 6).arg(result_.resolutionHz > 0 ? QStringLiteral("Hz") : QStringLiteral("每扫描周期"));
    for (const SpectrumTrace &s : plot_.traces()) {
        if (*bin >= s.amplitude.size())
            continue;
        const double a = s.amplitude[*bin];
        t += QStringLiteral("　%1 %2 %3（%4 %5）")
                 .arg(s.name)
                 .arg(a, 0, 'g', 4)
                 .arg(QString::fromStdString(s.unit))
                 .arg(toDb(a), 0, 'f', 1)
                 .arg(dbUnit(s.unit));
    }
    return t;
}

bool SpectrumPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == canvas_) {
        if (event->type() == QEvent::Paint) {
            QPainter p(canvas_);
            plot_.render(p, canvas_->rect());
            return true;
        }
        if (event->type() == QEvent::MouseMove) {
            readout_->setText(readoutAt(static_cast<QMouseEvent *>(event)->position().x()));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QByteArray SpectrumPane::csv() const
{
    QStringList head{QStringLiteral("频率 (%1)").arg(result_.resolutionHz > 0 ? QStringLiteral("Hz") : QStringLiteral("每扫描周期"))};
    std::size_t bins = 0;
    for (const SpectrumTrace &s : plot_.traces()) {
        head << csvCell(QStringLiteral("%1 (%2)").arg(s.name, QString::fromStdString(s.unit)))
             << csvCell(QStringLiteral("%1 (%2)").arg(s.name, dbUnit(s.unit)));
        bins = std::max(bins, s.amplitude.size());
    }
    QByteArray out = head.join(u',').toUtf8() + '\n';
    for (std::size_t k = 0; k < bins; ++k) {
        out += QByteArray::number(double(k) * plot_.binHz(), 'g', 10);
        for (const SpectrumTrace &s : plot_.traces()) {
            const double a = k < s.amplitude.size() ? s.amplitude[k] : 0.0;
            out += ',' + QByteArray::number(a, 'g', 7) + ',' + QByteArray::number(toDb(a), 'f', 2);
        }
        out += '\n';
    }
    return out;
}

bool SpectrumPane::exportCsv(const QString &path, QString &why) const
{
    // With a byte order mark, so that a spreadsheet reads the names and
    // units as UTF-8.
    QSaveFile f(path);
    const char bom[] = {char(0xEF), char(0xBB), char(0xBF)};
    if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(bom, 3) + csv()) < 0 || !f.commit()) {
        why = f.errorString();
        return false;
    }
    return true;
}

void SpectrumPane::askCsv()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出频谱 CSV…"), QString(), QStringLiteral("CSV (*.csv)"));
    QString why;
    if (!path.isEmpty() && !exportCsv(path, why))
        QMessageBox::warning(this, QStringLiteral("导出频谱 CSV…"), QStringLiteral("无法写入 %1：%2").arg(path, why));
}

} // namespace adcard

// Its meta-object code, compiled with the file rather than on its own.
#include "moc_spectrum_pane.cpp"
