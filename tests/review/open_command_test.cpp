// `adcard-panel --open FILE` on files it must refuse: status 2 and one line
// naming the file and the reason, before anything needs a display.
#include "review_files.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <hdf5.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace adcard {
namespace {

namespace fs = std::filesystem;

struct BadFile {
    const char *name;
    std::function<void(const std::string &)> make;
    const char *reason;
};

const BadFile kBadFiles[] = {
    {"missing", [](const std::string &) {}, "no such file"},
    {"text.h5", [](const std::string &p) { std::ofstream(p) << "time,volts\n0,1\n"; }, "not an HDF5 file"},
    {"other.h5",
     [](const std::string &p) {
         const hid_t f = H5Fcreate(p.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
         H5Gclose(H5Gcreate2(f, "temperatures", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
         H5Fclose(f);
     },
     "another layout"},
    {"empty-run.h5", [](const std::string &p) { testing::writeRecording(p, 0); }, "no blocks"},
    {"a-folder.h5", [](const std::string &p) { fs::create_directories(p); }, "directory"},
};

TEST(OpenCommand, RefusesABadFileWithStatusTwoAndOneLine)
{
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "open_command";
    fs::remove_all(dir);
    fs::create_directories(dir);
    // No display at all: the refusal must come before Qt looks for one.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const BadFile &c : kBadFiles) {
        SCOPED_TRACE(c.name);
        const std::string path = (dir / c.name).string();
        c.make(path);
        QProcess panel;
        panel.setProcessEnvironment(env);
        panel.start(QStringLiteral(ADPANEL_PROGRAM), {QStringLiteral("--open"), QString::fromStdString(path)});
        ASSERT_TRUE(panel.waitForFinished(60000));
        const std::string err = panel.readAllStandardError().toStdString();
        EXPECT_EQ(panel.exitCode(), 2) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("'" + path + "'"), std::string::npos) << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << err;
        EXPECT_TRUE(panel.readAllStandardOutput().isEmpty());
    }
}

} // namespace
} // namespace adcard
