#include "plot/window_text.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPainter>
#include <QVBoxLayout>

namespace adcard {

ElidingLabel::ElidingLabel(QWidget *parent, Qt::TextElideMode mode) : QLabel(parent), mode_(mode)
{
    setTextFormat(Qt::PlainText);
}

void ElidingLabel::setFullText(const QString &text)
{
    if (text == this->text())
        return;
    setText(text);
    setToolTip(text.size() > 40 ? text : QString());
}

QSize ElidingLabel::minimumSizeHint() const
{
    const int lines = std::max<qsizetype>(1, text().count(QLatin1Char('\n')) + 1);
    return {0, static_cast<int>(lines) * fontMetrics().lineSpacing() + contentsMargins().top() +
                   contentsMargins().bottom()};
}

QSize ElidingLabel::sizeHint() const { return {QLabel::sizeHint().width(), minimumSizeHint().height()}; }

void ElidingLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    const QRect r = contentsRect();
    const QFontMetrics fm = fontMetrics();
    const QStringList lines = text().split(QLatin1Char('\n'));
    int y = r.top();
    for (const QString &line : lines) {
        p.drawText(QRect(r.left(), y, r.width(), fm.lineSpacing()), int(alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter,
                   fm.elidedText(line, mode_, r.width()));
        y += fm.lineSpacing();
    }
}

LegendBox::LegendBox(const QString &text, QWidget *parent) : QCheckBox(text, parent), full_(text)
{
    // A button does not shrink below its size hint; this one may, to its
    // minimum.
    QSizePolicy policy = sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::Preferred);
    setSizePolicy(policy);
}

void LegendBox::setFullText(const QString &text)
{
    full_ = text;
    updateGeometry();
    elide();
}

void LegendBox::elide()
{
    const QString shown = fontMetrics().elidedText(full_, Qt::ElideRight, width() - chrome());
    if (shown != text())
        setText(shown);
}

int LegendBox::chrome() const
{
    return QCheckBox::sizeHint().width() - fontMetrics().size(Qt::TextShowMnemonic, text()).width();
}

QSize LegendBox::sizeHint() const
{
    return {chrome() + fontMetrics().size(Qt::TextShowMnemonic, full_).width(), QCheckBox::sizeHint().height()};
}

QSize LegendBox::minimumSizeHint() const
{
    // Two characters and the ellipsis: enough to tell the channels apart.
    const QString least = full_.size() > 3 ? full_.left(2) + QChar(0x2026) : full_;
    return {chrome() + fontMetrics().size(Qt::TextShowMnemonic, least).width(), QCheckBox::sizeHint().height()};
}

void LegendBox::resizeEvent(QResizeEvent *event)
{
    elide();
    QCheckBox::resizeEvent(event);
}

QList<KeyHelpRow> plotKeyHelp()
{
    return {
        {QStringLiteral("滚轮 / + −"), QStringLiteral("放大、缩小（以指针 / 中央为准）")},
        {QStringLiteral("拖动 / ← →"), QStringLiteral("平移")},
        {QStringLiteral("Ctrl+拖动"), QStringLiteral("框选放大（时间和电压）")},
        {QStringLiteral("Home"), QStringLiteral("显示全部，电压恢复 −5 … +5 V")},
        {QStringLiteral("Y"), QStringLiteral("电压适配可见部分 / 恢复 −5 … +5 V")},
        {QStringLiteral("单击 / A"), QStringLiteral("光标A（A：在指针处）")},
        {QStringLiteral("右击、Shift+单击 / B"), QStringLiteral("光标B（B：在指针处）")},
        {QStringLiteral("Esc"), QStringLiteral("清除光标")},
        {QStringLiteral("L"), QStringLiteral("分道（每个通道一道）/ 叠加")},
        {QStringLiteral("F1"), QStringLiteral("本页")},
    };
}

void showKeyHelp(QWidget *window, const QList<KeyHelpRow> &rows)
{
    const QString name = QStringLiteral("keyHelp");
    if (auto *open = window->findChild<QDialog *>(name, Qt::FindDirectChildrenOnly)) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto *page = new QDialog(window);
    page->setObjectName(name);
    page->setAttribute(Qt::WA_DeleteOnClose);
    page->setWindowTitle(QStringLiteral("按键与鼠标 — %1").arg(window->windowTitle()));
    QString html = QStringLiteral("<table cellspacing=6>");
    for (const KeyHelpRow &row : rows)
        html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(row.first.toHtmlEscaped(), row.second.toHtmlEscaped());
    html += QStringLiteral("</table>");
    auto *text = new QLabel(html, page);
    text->setTextFormat(Qt::RichText);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, page);
    QObject::connect(buttons, &QDialogButtonBox::rejected, page, &QDialog::close);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(text);
    layout->addWidget(buttons);
    page->show();
}

} // namespace adcard
