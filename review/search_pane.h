#pragma once
// 搜索: the review window's questions to the whole run (levels, peaks,
// digital inputs, holes), asked in a thread of its own
// through the query engine, with progress, a stop, and a list of answers
// that zooms the view to each.
#include "query/query.h"

#include <QWidget>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace adcard {

class SearchPane final : public QWidget {
    Q_OBJECT
public:
    // `zoom(first, end)` shows those scans with some context.
    SearchPane(std::function<void(int64_t, int64_t)> zoom, QWidget *parent = nullptr);
    ~SearchPane() override;

    // The run asked; null stops and forgets. The run must outlive this
    // call's successor.
    void setRun(const RecordedRun *run);
    // The run took in more scans (跟随): the last search is asked again.
    void runGrew();
    QTreeWidget *results() const { return list_; }
    QLabel *countLabel() const { return count_; }
    // 搜索 / 停止: the one button that starts a search and stops it.
    QPushButton *goButton() const { return go_; }
    // 突出度: how far a peak stands above its surroundings, in the channel's
    // unit; empty for the default that adcard-review peaks uses too.
    QLineEdit *prominenceField() const { return prominence_; }
    void start();
    // Waits for the search in progress (tests; the window never waits).
    void wait();

    struct Row {
        int64_t first = 0, end = 0; // what a click zooms to
        QStringList texts;
    };
    // What the list shows, row for row.
    const std::vector<Row> &answers() const { return rows_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum Kind { Above, Below, Either, Highest, Lowest, Digital, Holes };

    // Drops the search in progress and its answer.
    void stop();
    // 停止: the search in progress ends early, and says so.
    void interrupt();
    void kindChanged();
    // The level in the chosen channel's unit, over what its codes can reach.
    void channelChanged();
    // The typed prominence, or -1 (the engine's default) when empty; nothing
    // when the text is no number of the unit.
    std::optional<double> prominence() const;
    // In the worker: the answer as rows and the count's text.
    // `before`: the last answer to the same level search, to go on from.
    void ask(Kind kind, int channel, double level, double prominence, int bit, int generation,
             std::optional<query::LevelResult> before);
    void show(std::vector<Row> rows, QString count, bool failed);
    void step(int by);
    void exportList();

    std::function<void(int64_t, int64_t)> zoom_;
    const RecordedRun *run_ = nullptr;
    QComboBox *kind_ = nullptr;
    QComboBox *channel_ = nullptr;
    QDoubleSpinBox *level_ = nullptr;
    QLineEdit *prominence_ = nullptr;
    QSpinBox *bit_ = nullptr;
    QPushButton *go_ = nullptr;
    QProgressBar *progress_ = nullptr;
    QLabel *count_ = nullptr;
    QTreeWidget *list_ = nullptr;
    std::vector<Row> rows_;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    std::atomic<int> progressPermille_{0};
    bool asked_ = false; // a search was made on this run
    // The last level search's whole answer: as the run grows, the same
    // search reads only the scans added since.
    struct Followed {
        Kind kind;
        int channel;
        double level;
        query::LevelResult result;
    };
    std::optional<Followed> followed_;
    int generation_ = 0; // answers of an older search are dropped
};

} // namespace adcard
