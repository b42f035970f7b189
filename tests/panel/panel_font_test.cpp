// The bundled font draws what the program shows; anything else an operator
// types into a text box falls back to a system face instead of a box.
#include "panel/frm_multibuf.h"
#include "tests/support/mock_driver.h"

#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace adcard {
namespace {

const char *const kBundled = "Adpanel Mono";

struct Drawn {
    const char *row;
    const char *text;
    const char *family; // null: any system face but the bundled one
};
const Drawn kDrawn[] = {
    {"caption_han", "通", kBundled},
    {"ascii", "A", kBundled},
    {"fullwidth_colon", "：", kBundled},
    {"extra_minus_sign", "−", kBundled},
    {"han_the_program_never_shows", "鑫", nullptr},
    {"accented_latin", "é", nullptr},
};

void PrintTo(const Drawn &d, std::ostream *os) { *os << d.row; }

class FontOfTextBox : public ::testing::TestWithParam<Drawn> {};

TEST_P(FontOfTextBox, DrawsEachCharacterWithARealGlyph)
{
    const Drawn &d = GetParam();
    ::testing::NiceMock<testing::MockDriver> driver;
    DllDef dll{driver};
    FrmMultiBuf window{dll, "."};
    QWidget *box = window.control(QStringLiteral("txtSWO_0"));
    ASSERT_NE(box, nullptr);

    QTextLayout layout(QString::fromUtf8(d.text), box->font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    ASSERT_EQ(runs.size(), 1);
    ASSERT_EQ(runs[0].glyphIndexes().size(), 1);
    EXPECT_NE(runs[0].glyphIndexes()[0], 0u) << "drawn as .notdef (a box)";
    const std::string family = runs[0].rawFont().familyName().toStdString();
    if (d.family)
        EXPECT_EQ(family, d.family);
    else
        EXPECT_NE(family, kBundled) << "the subset should not hold this character";
}

INSTANTIATE_TEST_SUITE_P(Characters, FontOfTextBox, ::testing::ValuesIn(kDrawn),
                         [](const ::testing::TestParamInfo<Drawn> &info) { return std::string(info.param.row); });

} // namespace
} // namespace adcard
