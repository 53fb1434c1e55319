#include "FakeToolkit.h"
#include "FileDescriptor.h"
#include "Form1.h"
#include "SetFile.h"
#include "TestImages.h"

#include <QAction>
#include <QCheckBox>
#include <QListWidget>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using TestImages::TempDir;

namespace {

using TestImages::readText;
using TestImages::writeText;
int filesIn(const std::filesystem::path& dir) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++n;
    return n;
}

class SetFiles : public ::testing::Test {
  protected:
    void save(const std::string& path) {
        toolkit.saveAnswers = {QString::fromStdString(path)};
        form.saveSetToolStripMenuItem->trigger();
    }
    void load(const std::string& path) {
        toolkit.openAnswers = {{QString::fromStdString(path)}};
        form.loadSetToolStripMenuItem->trigger();
    }
    void series(const QStringList& lower, const QStringList& centric, const QStringList& upper) {
        form.listBox1->clear();
        form.listBox1->addItems(lower);
        form.listBox5->clear();
        form.listBox5->addItems(centric);
        form.listBox6->clear();
        form.listBox6->addItems(upper);
    }
    // The messages of the file error dialogs shown so far.
    QStringList fileErrors() const {
        QStringList texts;
        for (const auto& d : toolkit.shown)
            if (d.name == QStringLiteral("FileError"))
                texts << d.text;
        return texts;
    }
    // A small file system of its own at `at` (root only), unmounted after the
    // test; false when none can be mounted.
    bool mountSmallDisk(const std::string& at) {
        std::filesystem::create_directory(at);
        const std::string mount = "mount -t tmpfs -o size=64k tmpfs '" + at + "' 2>/dev/null";
        if (::geteuid() != 0 || std::system(mount.c_str()) != 0)
            return false;
        mounted.push_back(at);
        return true;
    }
    void TearDown() override {
        for (const std::string& at : mounted)
            std::system(("umount '" + at + "'").c_str());
    }
    FakeToolkit toolkit;
    Form1 form{DialogUnits::reference()};
    TempDir dir;
    std::vector<std::string> mounted;
};

} // namespace

TEST_F(SetFiles, SaveWritesTheSettingsFileAndThreeListFiles) {
    series({"/p/l0.jpg", "/p/l1.jpg"}, {"/p/c0.jpg", "/p/c1.jpg"}, {"/p/u0.jpg", "/p/u1.jpg"});
    form.radioButton9->setChecked(true); // upper counter-clockwise
    save(dir.file("tower.ini"));
    ASSERT_EQ(toolkit.fileDialogs.size(), 1u);
    EXPECT_EQ(toolkit.fileDialogs[0].title, QStringLiteral("Save Settings"));
    EXPECT_EQ(toolkit.fileDialogs[0].filter, QStringLiteral("Settingddatei (.ini)|*.ini"));
    EXPECT_TRUE(toolkit.fileDialogs[0].save);
    const std::string base = dir.file("tower");
    EXPECT_EQ(readText(dir.file("tower.ini")), "[Lower Series]\n"
                                               "ImageList1=" +
                                                   base +
                                                   "1.txt\n"
                                                   "Clockwise1=1\n"
                                                   "CClockwise1=0\n"
                                                   "[Centric Series]\n"
                                                   "ImageList2=" +
                                                   base +
                                                   "2.txt\n"
                                                   "Clockwise2=1\n"
                                                   "CClockwise2=0\n"
                                                   "[Upper Series]\n"
                                                   "ImageList3=" +
                                                   base +
                                                   "3.txt\n"
                                                   "Clockwise3=0\n"
                                                   "CClockwise3=1\n"
                                                   "[View Options]\n"
                                                   "SkyScraperMode=0\n"
                                                   "CameraZoom=1\n"
                                                   "Speed=5\n");
    EXPECT_EQ(readText(base + "1.txt"), "/p/l0.jpg\r\n/p/l1.jpg\r\n");
    EXPECT_EQ(readText(base + "3.txt"), "/p/u0.jpg\r\n/p/u1.jpg\r\n");
    EXPECT_EQ(filesIn(dir.path), 4) << "no temporary file is left behind";
    EXPECT_TRUE(toolkit.shown.empty());
}

TEST_F(SetFiles, OnlyALowerSeriesStillWritesThreeListFiles) {
    series({"/p/a.jpg"}, {}, {});
    save(dir.file("one.ini"));
    EXPECT_EQ(readText(dir.file("one2.txt")), "");
    EXPECT_EQ(readText(dir.file("one3.txt")), "");
    series({"x"}, {"y"}, {"z"});
    load(dir.file("one.ini"));
    EXPECT_EQ(listEntries(form.listBox1), QStringList({"/p/a.jpg"}));
    EXPECT_EQ(form.listBox5->count(), 0);
    EXPECT_EQ(form.listBox6->count(), 0);
    EXPECT_TRUE(toolkit.shown.empty());
}

TEST_F(SetFiles, IncompleteSetIsNotSaved) {
    series({}, {}, {});
    save(dir.file("a.ini"));
    series({"1", "2", "3", "4", "5"}, {"1", "2", "3", "4"}, {});
    save(dir.file("b.ini"));
    EXPECT_EQ(filesIn(dir.path), 0);
    EXPECT_TRUE(toolkit.fileDialogs.empty()) << "no file dialog for an incomplete set";
    ASSERT_EQ(toolkit.shown.size(), 2u);
    EXPECT_EQ(toolkit.shown[0].name, QStringLiteral("Error"));
    series({"1", "2", "3", "4", "5"}, {}, {"1", "2", "3", "4", "5"});
    save(dir.file("c.ini"));
    EXPECT_EQ(filesIn(dir.path), 4);
}

TEST_F(SetFiles, SavingOverAFileKeepsItsOtherContent) {
    const std::string ini = dir.file("tower.ini");
    ASSERT_TRUE(writeText(ini, "; written by hand\n[Mine]\nnote=keep me\n[View Options]\nSpeed=2\n"
                               "Comment=stays\n"));
    ASSERT_TRUE(writeText(dir.file("tower1.txt"), "old\r\nold\r\nold\r\n"));
    series({"/new.jpg"}, {}, {});
    form.trackBar1->setValue(8);
    toolkit.askAnswers = {true}; // tower1.txt is not the list the file names
    save(ini);
    EXPECT_EQ(toolkit.asked.size(), 1);
    const std::string text = readText(ini);
    EXPECT_EQ(text.rfind("; written by hand\n[Mine]\nnote=keep me\n[View Options]\nSpeed=8\n"
                         "Comment=stays\nSkyScraperMode=0\nCameraZoom=1\n",
                         0),
              0u)
        << text;
    EXPECT_EQ(readText(dir.file("tower1.txt")), "/new.jpg\r\n");
}

TEST_F(SetFiles, LoadAppliesDirectionPairsAndFlags) {
    const std::string ini = dir.file("pairs.ini");
    ASSERT_TRUE(writeText(dir.file("empty.txt"), ""));
    const std::string list = "ImageList%=" + dir.file("empty.txt") + "\n";
    auto listKey = [&](char n) {
        std::string s = list;
        s[9] = n;
        return s;
    };
    ASSERT_TRUE(
        writeText(ini, "[Lower Series]\n" + listKey('1') +
                           "Clockwise1=1\nCClockwise1=0\n"
                           "[Centric Series]\n" +
                           listKey('2') +
                           "Clockwise2=1\nCClockwise2=1\n"
                           "[Upper Series]\n" +
                           listKey('3') +
                           "Clockwise3=0\nCClockwise3=0\n"
                           "[View Options]\nSkyScraperMode= 01 \nCameraZoom=yes\nSpeed=9\n"));
    load(ini);
    EXPECT_TRUE(form.radioButton1->isChecked());
    EXPECT_FALSE(form.radioButton2->isChecked());
    EXPECT_FALSE(form.radioButton14->isChecked()) << "(1, 1) selects Counter Clockwise";
    EXPECT_TRUE(form.radioButton13->isChecked());
    EXPECT_FALSE(form.radioButton10->isChecked()) << "(0, 0) selects neither";
    EXPECT_FALSE(form.radioButton9->isChecked());
    EXPECT_TRUE(form.checkBox1->isChecked()) << "01 with spaces reads as 1";
    EXPECT_FALSE(form.checkBox2->isChecked()) << "yes reads as 0";
    EXPECT_EQ(form.trackBar1->value(), 9);
    EXPECT_TRUE(toolkit.shown.empty());
    ASSERT_EQ(toolkit.fileDialogs.size(), 1u);
    EXPECT_EQ(toolkit.fileDialogs[0].title, QStringLiteral("Load Settings"));
    EXPECT_EQ(toolkit.fileDialogs[0].filter, QStringLiteral("Settingddatei (*.ini)|*.ini"));
}

TEST_F(SetFiles, RoundTripOfAFullSetWithNonAsciiPaths) {
    const QStringList lower = {QStringLiteral("/fotos/Stra\u00dfe/h\u00e4user 1.jpg"),
                               QStringLiteral("/fotos/\u6771\u4eac.jpg")};
    const QStringList centric = {QStringLiteral("/c/a.jpg"), QString()};
    const QStringList upper = {QStringLiteral("/u/\U0001F600.jpg"), QStringLiteral("/u/b.JPEG")};
    series(lower, centric, upper);
    form.radioButton2->setChecked(true);
    form.checkBox1->setChecked(true);
    form.checkBox2->setChecked(false);
    form.trackBar1->setValue(3);
    const std::string ini = dir.file("r\u00e4um.ini");
    save(ini);
    form.newSetToolStripMenuItem->trigger();
    load(ini);
    EXPECT_EQ(listEntries(form.listBox1), lower);
    EXPECT_EQ(listEntries(form.listBox5), centric);
    EXPECT_EQ(listEntries(form.listBox6), upper);
    EXPECT_TRUE(form.radioButton2->isChecked());
    EXPECT_TRUE(form.radioButton14->isChecked());
    EXPECT_TRUE(form.checkBox1->isChecked());
    EXPECT_FALSE(form.checkBox2->isChecked());
    EXPECT_EQ(form.trackBar1->value(), 3);
    EXPECT_TRUE(toolkit.shown.empty());
}

TEST_F(SetFiles, MovedSettingsFileStillReadsItsOwnListFiles) {
    series({"/p/original.jpg"}, {}, {});
    save(dir.file("tower.ini"));
    std::filesystem::rename(dir.file("tower.ini"), dir.file("renamed.ini"));
    form.newSetToolStripMenuItem->trigger();
    load(dir.file("renamed.ini"));
    EXPECT_EQ(listEntries(form.listBox1), QStringList({"/p/original.jpg"}));
}

TEST_F(SetFiles, ListFilesWithOtherLineEndsAndEncodings) {
    ASSERT_TRUE(writeText(dir.file("l1.txt"), "/a.jpg\n\n/b.jpg"));
    ASSERT_TRUE(writeText(dir.file("l2.txt"), std::string("\xFF\xFE/\0c\0\r\0\n\0/\0d\0", 14)));
    ASSERT_TRUE(writeText(dir.file("l3.txt"), "\xEF\xBB\xBF/e.jpg\r/f.jpg\r"));
    ASSERT_TRUE(
        writeText(dir.file("s.ini"), "[Lower Series]\nImageList1=" + dir.file("l1.txt") +
                                         "\n[Centric Series]\nImageList2=" + dir.file("l2.txt") +
                                         "\n[Upper Series]\nImageList3=" + dir.file("l3.txt") +
                                         "\n[View Options]\nSpeed=5\n"));
    load(dir.file("s.ini"));
    EXPECT_EQ(listEntries(form.listBox1), QStringList({"/a.jpg", "", "/b.jpg"}));
    EXPECT_EQ(listEntries(form.listBox5), QStringList({"/c", "/d"}));
    EXPECT_EQ(listEntries(form.listBox6), QStringList({"/e.jpg", "/f.jpg"}));
}

TEST_F(SetFiles, ListPathOver259CharactersArrivesCut) {
    // The reader gets the first 259 characters: a file under that name is read.
    const std::string folder = dir.file(std::string(200, 'd'));
    std::filesystem::create_directories(folder);
    std::string cut = folder + "/" + std::string(259 - folder.size() - 1, 'l');
    ASSERT_EQ(cut.size(), 259u);
    ASSERT_TRUE(writeText(cut, "/from/the/cut/path.jpg\r\n"));
    ASSERT_TRUE(writeText(dir.file("empty.txt"), ""));
    ASSERT_TRUE(writeText(
        dir.file("long.ini"),
        "[Lower Series]\nImageList1=" + cut + "-and-the-rest.txt\n[Centric Series]\nImageList2=" +
            dir.file("empty.txt") + "\n[Upper Series]\nImageList3=" + dir.file("empty.txt") +
            "\n[View Options]\nSpeed=5\n"));
    load(dir.file("long.ini"));
    EXPECT_EQ(listEntries(form.listBox1), QStringList({"/from/the/cut/path.jpg"}));
}

TEST_F(SetFiles, SettingsFileThatDisappearsBeforeItIsRead) {
    series({"/p/a.jpg"}, {}, {});
    save(dir.file("gone.ini"));
    std::filesystem::remove(dir.file("gone.ini")); // after the dialog chose it
    series({"/edited.jpg"}, {}, {});
    load(dir.file("gone.ini"));
    ASSERT_EQ(fileErrors().size(), 1);
    EXPECT_TRUE(fileErrors()[0].contains(QString::fromStdString(dir.file("gone.ini"))));
    EXPECT_TRUE(fileErrors()[0].contains(QStringLiteral("could not be read")));
}

TEST_F(SetFiles, CancelledLoadKeepsTheSetBeingEdited) {
    series({"/keep.jpg"}, {"/keep2.jpg"}, {});
    form.trackBar1->setValue(2);
    form.loadSetToolStripMenuItem->trigger(); // no scripted answer: cancelled
    EXPECT_EQ(listEntries(form.listBox1), QStringList({"/keep.jpg"}));
    EXPECT_EQ(listEntries(form.listBox5), QStringList({"/keep2.jpg"}));
    EXPECT_EQ(form.trackBar1->value(), 2);
}

TEST_F(SetFiles, BadSpeedLoadsNothing) {
    for (const char* speed : {"Speed=0\n", "Speed=10\n", "Speed=fast\n", ""}) {
        ASSERT_TRUE(writeText(dir.file("l.txt"), "/x.jpg\r\n"));
        ASSERT_TRUE(writeText(dir.file("s.ini"),
                              "[Lower Series]\nImageList1=" + dir.file("l.txt") +
                                  "\nCClockwise1=1\n[View Options]\nCameraZoom=0\n" + speed));
        series({"/old.jpg"}, {}, {});
        toolkit.shown.clear();
        load(dir.file("s.ini"));
        ASSERT_EQ(fileErrors().size(), 1) << speed;
        EXPECT_TRUE(fileErrors()[0].contains(QStringLiteral("speed")));
        EXPECT_TRUE(fileErrors()[0].contains(QString::fromStdString(dir.file("s.ini"))));
        EXPECT_EQ(listEntries(form.listBox1), QStringList({"/old.jpg"}));
        EXPECT_FALSE(form.radioButton2->isChecked()) << "a failed load changes no control";
        EXPECT_TRUE(form.checkBox2->isChecked());
        EXPECT_FALSE(fileErrors()[0].contains(QStringLiteral("not found")))
            << "the message quotes the file, never a stand-in text";
    }
}

TEST_F(SetFiles, UnreadableListFileLoadsNothing) {
    ASSERT_TRUE(writeText(dir.file("l1.txt"), "/one.jpg\r\n"));
    ASSERT_TRUE(writeText(dir.file("l3.txt"), "/three.jpg\r\n"));
    ASSERT_TRUE(writeText(dir.file("latin1.txt"), "/caf\xE9.jpg\r\n"));
    const std::string head = "[Lower Series]\nImageList1=" + dir.file("l1.txt") +
                             "\n[Upper Series]\nImageList3=" + dir.file("l3.txt") +
                             "\n[View Options]\nSpeed=4\n[Centric Series]\nImageList2=";
    ASSERT_TRUE(writeText(dir.file("missing.ini"), head + dir.file("gone.txt") + "\n"));
    series({"/old.jpg"}, {}, {"/old3.jpg"});
    load(dir.file("missing.ini"));
    EXPECT_EQ(listEntries(form.listBox1), QStringList({"/old.jpg"}));
    EXPECT_EQ(listEntries(form.listBox6), QStringList({"/old3.jpg"}));
    ASSERT_EQ(fileErrors().size(), 1);
    EXPECT_TRUE(fileErrors()[0].contains(QString::fromStdString(dir.file("gone.txt"))));
    EXPECT_TRUE(fileErrors()[0].contains(QStringLiteral("ImageList2")));

    ASSERT_TRUE(writeText(dir.file("latin.ini"), head + dir.file("latin1.txt") + "\n"));
    load(dir.file("latin.ini"));
    ASSERT_EQ(fileErrors().size(), 2);
    EXPECT_TRUE(fileErrors()[1].contains(QString::fromStdString(dir.file("latin1.txt"))));

    // A settings file without a list key names no list file at all.
    ASSERT_TRUE(writeText(dir.file("nolist.ini"), "[View Options]\nSpeed=4\n"));
    load(dir.file("nolist.ini"));
    ASSERT_EQ(fileErrors().size(), 3);
    EXPECT_TRUE(fileErrors()[2].contains(QStringLiteral("ImageList1 not found")));
}

// A folder that can no longer be written: without write permission, or for
// root (whom permissions do not stop) on a small file system remounted
// read-only. The failed save reports the folder and changes nothing.
TEST_F(SetFiles, UnwritableFolderLeavesTheEarlierSetIntact) {
    std::string folder = dir.path.string();
    const bool root = ::geteuid() == 0;
    if (root) {
        folder = dir.file("disk");
        if (!mountSmallDisk(folder))
            GTEST_SKIP() << "no small file system to make read-only";
    }
    series({"/first.jpg"}, {}, {});
    save(folder + "/tower.ini");
    ASSERT_TRUE(fileErrors().isEmpty());
    const std::string settingsBefore = readText(folder + "/tower.ini");
    const std::string listBefore = readText(folder + "/tower1.txt");
    if (root)
        ASSERT_EQ(std::system(("mount -o remount,ro '" + folder + "'").c_str()), 0);
    else
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    series({"/second.jpg"}, {}, {});
    form.trackBar1->setValue(9);
    save(folder + "/tower.ini");
    if (!root)
        ::chmod(folder.c_str(), 0755);
    ASSERT_EQ(fileErrors().size(), 1);
    EXPECT_TRUE(fileErrors()[0].contains(QString::fromStdString(folder)));
    EXPECT_TRUE(fileErrors()[0].contains(root ? "(read-only file system)" : "(permission denied)"))
        << fileErrors()[0].toStdString();
    EXPECT_EQ(readText(folder + "/tower.ini"), settingsBefore);
    EXPECT_EQ(readText(folder + "/tower1.txt"), listBefore);
    EXPECT_EQ(filesIn(folder), 4);
}

TEST_F(SetFiles, ListNameTakenByAFolderIsRefusedBeforeWriting) {
    series({"/first.jpg"}, {"/c.jpg"}, {});
    save(dir.file("tower.ini"));
    ASSERT_TRUE(fileErrors().isEmpty());
    // A list file name taken by a folder: refused before anything is written.
    const std::string settingsNow = readText(dir.file("tower.ini"));
    const std::string listNow = readText(dir.file("tower1.txt"));
    series({"/third.jpg"}, {}, {});
    std::filesystem::remove(dir.file("tower2.txt"));
    std::filesystem::create_directory(dir.file("tower2.txt"));
    save(dir.file("tower.ini"));
    ASSERT_FALSE(fileErrors().isEmpty());
    EXPECT_TRUE(fileErrors().back().contains(QString::fromStdString(dir.file("tower2.txt"))));
    EXPECT_EQ(readText(dir.file("tower.ini")), settingsNow);
    EXPECT_EQ(readText(dir.file("tower1.txt")), listNow);
}

TEST_F(SetFiles, ListPathThatCouldNotBeLoadedBackIsRefused) {
    const std::string folder = dir.file(std::string(250, 'f'));
    std::filesystem::create_directories(folder);
    series({"/a.jpg"}, {}, {});
    save(folder + "/tower.ini");
    ASSERT_EQ(fileErrors().size(), 1);
    EXPECT_TRUE(fileErrors()[0].contains(QStringLiteral("259")));
    EXPECT_EQ(filesIn(folder), 0);
}

// A small file system of its own, filled after a first save until
// `pagesLeft` pages are free: with none the new lists cannot be written; with
// one the new lower list fits and the settings file written after it does not.
TEST_F(SetFiles, FullDiskLeavesTheEarlierSetIntact) {
    const struct {
        int pagesLeft;
        int images;
        const char* says;
    } cases[] = {{0, 200, "image list of the lower series"}, {1, 1, "settings file"}};
    for (const auto& c : cases) {
        const std::string disk = dir.file("disk" + std::to_string(c.pagesLeft));
        if (!mountSmallDisk(disk))
            GTEST_SKIP() << "mounting a small file system needs root";
        series({"/first.jpg"}, {}, {});
        save(disk + "/tower.ini");
        ASSERT_TRUE(fileErrors().isEmpty());
        const std::string settingsBefore = readText(disk + "/tower.ini");
        const std::string listBefore = readText(disk + "/tower1.txt");
        ASSERT_FALSE(settingsBefore.empty());
        FileDescriptor fd(::open((disk + "/filler").c_str(), O_WRONLY | O_CREAT, 0644));
        const std::vector<char> page(4096, 'x');
        off_t size = 0;
        while (::write(fd.get(), page.data(), page.size()) == static_cast<ssize_t>(page.size()))
            size += 4096;
        ASSERT_EQ(::ftruncate(fd.get(), size - 4096 * c.pagesLeft), 0);
        fd.reset();

        QStringList images;
        for (int i = 0; i < c.images; ++i)
            images << QStringLiteral("/a/rather/long/path/to/photograph-%1.jpg").arg(i);
        series(images, {}, {});
        form.trackBar1->setValue(9);
        save(disk + "/tower.ini");
        ASSERT_EQ(fileErrors().size(), 1) << c.says;
        EXPECT_TRUE(fileErrors()[0].contains(QString::fromLatin1(c.says))) << c.says;
        EXPECT_TRUE(fileErrors()[0].contains(QStringLiteral("(no space left on device)")))
            << fileErrors()[0].toStdString();
        EXPECT_EQ(readText(disk + "/tower.ini"), settingsBefore) << c.says;
        EXPECT_EQ(readText(disk + "/tower1.txt"), listBefore) << c.says;
        int leftovers = 0;
        for (const auto& e : std::filesystem::directory_iterator(disk))
            leftovers += e.path().filename().string().rfind(".orbivue-", 0) == 0;
        EXPECT_EQ(leftovers, 0) << "no temporary file is left behind";
        toolkit.shown.clear();
    }
}

TEST_F(SetFiles, NamesWithoutIniGetItSoListFilesNeverClash) {
    const struct {
        const char* typed;
        const char* saved;
        const char* list1;
    } cases[] = {{"tower 2024.05.01", "tower 2024.05.01.ini", "tower 2024.05.011.txt"},
                 {"tower 2024.05.02", "tower 2024.05.02.ini", "tower 2024.05.021.txt"},
                 {"tower.v2", "tower.v2.ini", "tower.v21.txt"},
                 {"TOWER.INI", "TOWER.INI", "TOWER1.txt"}};
    for (const auto& c : cases) {
        series({QString::fromLatin1(c.typed)}, {}, {});
        save(dir.file(c.typed));
        EXPECT_EQ(readText(dir.file(c.list1)), std::string(c.typed) + "\r\n") << c.typed;
        EXPECT_TRUE(std::filesystem::exists(dir.file(c.saved))) << c.typed;
    }
    load(dir.file("tower 2024.05.01.ini"));
    EXPECT_EQ(listEntries(form.listBox1),
              QStringList({"tower 2024.05.01"})
                  .replaceInStrings(QRegularExpression("^"),
                                    QString::fromStdString(dir.path.string() + "/")));
    EXPECT_TRUE(fileErrors().isEmpty());
}

TEST_F(SetFiles, LinksStayLinksAndProtectedFilesAreRefused) {
    std::filesystem::create_directory(dir.file("real"));
    series({"/a.jpg"}, {}, {});
    save(dir.file("real/set.ini"));
    std::filesystem::create_symlink(dir.file("real/set.ini"), dir.file("link.ini"));
    form.trackBar1->setValue(8);
    save(dir.file("link.ini"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.ini")));
    EXPECT_NE(readText(dir.file("real/set.ini")).find("Speed=8"), std::string::npos);

    // Write-protected by the user: refused with its name, nothing written.
    // (Its lists are now those named after the link: replacing set1.txt is
    // asked first.)
    toolkit.askAnswers = {true};
    const std::string before = readText(dir.file("real/set.ini"));
    ::chmod(dir.file("real/set.ini").c_str(), 0444);
    form.trackBar1->setValue(2);
    series({"/b.jpg"}, {}, {});
    save(dir.file("real/set.ini"));
    ::chmod(dir.file("real/set.ini").c_str(), 0644);
    ASSERT_EQ(fileErrors().size(), 1);
    EXPECT_TRUE(fileErrors()[0].contains(QStringLiteral("write-protected")));
    EXPECT_TRUE(fileErrors()[0].contains(QString::fromStdString(dir.file("real/set.ini"))));
    EXPECT_EQ(readText(dir.file("real/set.ini")), before);
    EXPECT_EQ(readText(dir.file("real/set1.txt")), "/a.jpg\r\n");
}

TEST_F(SetFiles, Utf16SettingsAndRelativePaths) {
    // A hand-made set in UTF-16 LE with a byte-order mark, whose list path
    // counts from the settings file and whose image path from the list.
    std::filesystem::create_directories(dir.file("lists"));
    ASSERT_TRUE(writeText(dir.file("lists/l.txt"), "img/a.jpg\r\n/abs/b.jpg\r\n"));
    ASSERT_TRUE(writeText(dir.file("lists/e.txt"), ""));
    const std::string ascii =
        "[Lower Series]\r\nImageList1=lists/l.txt\r\n[Centric Series]\r\nImageList2=lists/e.txt"
        "\r\n[Upper Series]\r\nImageList3=lists/e.txt\r\n[View Options]\r\nSpeed=3\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : ascii)
        utf16 += std::string{c, '\0'};
    ASSERT_TRUE(writeText(dir.file("wide.ini"), utf16));
    load(dir.file("wide.ini"));
    ASSERT_TRUE(fileErrors().isEmpty());
    EXPECT_EQ(form.trackBar1->value(), 3);
    EXPECT_EQ(listEntries(form.listBox1),
              QStringList({QString::fromStdString(dir.file("lists/img/a.jpg")), "/abs/b.jpg"}));

    // Saved over, it stays UTF-16 with its mark and loads again.
    form.trackBar1->setValue(7);
    save(dir.file("wide.ini"));
    const std::string saved = readText(dir.file("wide.ini"));
    ASSERT_EQ(saved.compare(0, 2, "\xFF\xFE"), 0);
    EXPECT_EQ(saved.size() % 2, 0u);
    form.trackBar1->setValue(1);
    load(dir.file("wide.ini"));
    EXPECT_TRUE(fileErrors().isEmpty());
    EXPECT_EQ(form.trackBar1->value(), 7);
}

TEST_F(SetFiles, OversizedFilesAreRefusedBeforeReading) {
    series({"/keep.jpg"}, {}, {});
    save(dir.file("ok.ini"));
    std::filesystem::resize_file(dir.file("ok2.txt"), std::uintmax_t(65) << 20); // sparse
    load(dir.file("ok.ini"));
    ASSERT_EQ(fileErrors().size(), 1);
    EXPECT_TRUE(fileErrors()[0].contains(QStringLiteral("68,157,440 bytes, more than the 64 MiB")))
        << fileErrors()[0].toStdString();
    ASSERT_TRUE(writeText(dir.file("big.ini"), "[View Options]\nSpeed=5\n"));
    std::filesystem::resize_file(dir.file("big.ini"), (1u << 20) + 1);
    load(dir.file("big.ini"));
    ASSERT_EQ(fileErrors().size(), 2);
    EXPECT_TRUE(fileErrors()[1].contains(QStringLiteral("1,048,577 bytes, more than the 1 MiB")))
        << fileErrors()[1].toStdString();
    EXPECT_EQ(listEntries(form.listBox1), QStringList({"/keep.jpg"}));
}

TEST_F(SetFiles, SavingOverAUtf8FileWithAByteOrderMarkReplacesItsKeys) {
    ASSERT_TRUE(writeText(dir.file("bom.ini"),
                          "\xEF\xBB\xBF[Lower Series]\r\nImageList1=old1.txt\r\n"
                          "; the user's note\r\n"));
    series({"/new.jpg"}, {}, {});
    save(dir.file("bom.ini"));
    const std::string saved = readText(dir.file("bom.ini"));
    EXPECT_EQ(saved.compare(0, 3, "\xEF\xBB\xBF"), 0) << "the mark is kept";
    EXPECT_EQ(saved.find("[Lower Series]"), saved.rfind("[Lower Series]")) << saved;
    EXPECT_NE(saved.find("; the user's note"), std::string::npos);
    series({"/other.jpg"}, {}, {});
    load(dir.file("bom.ini"));
    EXPECT_TRUE(fileErrors().isEmpty());
    EXPECT_EQ(listEntries(form.listBox1), QStringList({"/new.jpg"}));
}

// Every name a save would write is checked first: a save that could not end
// as a set Load reads back writes nothing and names the file.
TEST_F(SetFiles, SavesThatCouldNotBeLoadedBackWriteNothing) {
    // 255 bytes in 130 characters: the lists would take 256 bytes.
    std::string longName;
    for (int i = 0; i < 125; ++i)
        longName += "\xC3\xBC";
    longName += "n.ini";
    const struct {
        const char* name;
        std::string settings;  // the settings file saved over
        std::string before;    // what it holds before
        const char* linkList1; // list 1 made a link to this file
        const char* message;
    } cases[] = {
        {"long name", longName, "[View Options]\r\nSpeed=4\r\n", nullptr, "file name is longer"},
        {"list linked to the settings file", "linked.ini", "[View Options]\r\nSpeed=4\r\n",
         "linked.ini", "through a link"},
        {"growing past Load's limit", "full.ini",
         "[View Options]\r\nSpeed=4\r\n" + std::string((1 << 20) - 40, ';'), nullptr,
         "more than the 1 MiB"},
        {"UTF-16 without a mark", "wide.ini", std::string("[\0V\0i\0e\0w\0]\0", 12), nullptr,
         "not a settings file"},
    };
    series({"/a.jpg"}, {}, {});
    for (const auto& c : cases) {
        toolkit.askAnswers = {true}; // a list linked to the settings file is not its own
        const std::string settings = dir.file(c.settings);
        ASSERT_TRUE(writeText(settings, c.before)) << c.name;
        if (c.linkList1 != nullptr)
            std::filesystem::create_symlink(dir.file(c.linkList1),
                                            SetFile::listFilePath(settings, 1));
        const int files = filesIn(dir.path);
        const qsizetype errors = fileErrors().size();
        save(settings);
        ASSERT_EQ(fileErrors().size(), errors + 1) << c.name;
        EXPECT_TRUE(fileErrors().back().contains(QLatin1String(c.message)))
            << c.name << ": " << fileErrors().back().toStdString();
        EXPECT_EQ(readText(settings), c.before) << c.name;
        EXPECT_EQ(filesIn(dir.path), files) << c.name;
    }
}

// The replace question comes for every file the save dialog did not ask
// about: the name with ".ini" added, and list files that are not the lists of
// the settings file being replaced. No writes nothing; Yes saves.
TEST_F(SetFiles, NothingIsReplacedUnasked) {
    const struct {
        const char* name;
        const char* typed;
        std::vector<const char*> existing; // files there before, with "mine" in them
        const char* asksAbout;
    } cases[] = {
        {"the name with .ini added",
         "tower 2024.05.01",
         {"tower 2024.05.01.ini"},
         "tower 2024.05.01.ini"},
        {"another set's lists", "tower.INI", {"tower.ini", "tower1.txt"}, "tower1.txt"},
        {"the user's own files", ".ini", {"1.txt", "2.txt"}, "1.txt"},
    };
    series({"/a.jpg"}, {}, {});
    for (const auto& c : cases) {
        for (const char* file : c.existing)
            ASSERT_TRUE(writeText(dir.file(file), "mine"));
        for (const bool yes : {false, true}) {
            toolkit.asked.clear();
            toolkit.askAnswers = {yes};
            save(dir.file(c.typed));
            ASSERT_FALSE(toolkit.asked.isEmpty()) << c.name;
            EXPECT_TRUE(toolkit.asked[0].contains(QLatin1String(c.asksAbout)))
                << c.name << ": " << toolkit.asked[0].toStdString();
            EXPECT_EQ(readText(dir.file(c.asksAbout)) == "mine", !yes) << c.name;
        }
        EXPECT_TRUE(fileErrors().isEmpty()) << c.name;
    }
}

// ".." in a list or image path climbs from the folder the file really is in,
// as opening the path would, also when the set is opened through a link.
TEST_F(SetFiles, RelativePathsClimbFromTheRealFolder) {
    std::filesystem::create_directories(dir.file("real/sets"));
    std::filesystem::create_directories(dir.file("real/lists"));
    std::filesystem::create_directories(dir.file("lists"));
    std::filesystem::create_directory_symlink(dir.file("real/sets"), dir.file("linked"));
    ASSERT_TRUE(writeText(dir.file("real/lists/l.txt"), "../photos/a.jpg\r\n"));
    ASSERT_TRUE(writeText(dir.file("lists/l.txt"), "/the/wrong/list.jpg\r\n"));
    ASSERT_TRUE(writeText(dir.file("real/lists/e.txt"), ""));
    ASSERT_TRUE(writeText(dir.file("real/sets/set.ini"),
                          "[Lower Series]\nImageList1=../lists/l.txt\n[Centric Series]\n"
                          "ImageList2=../lists/e.txt\n[Upper Series]\nImageList3=../lists/e.txt\n"
                          "[View Options]\nSpeed=5\n"));
    load(dir.file("linked/set.ini"));
    ASSERT_TRUE(fileErrors().isEmpty()) << fileErrors().join("\n").toStdString();
    const std::string real = std::filesystem::canonical(dir.path).string();
    EXPECT_EQ(listEntries(form.listBox1),
              QStringList({QString::fromStdString(real + "/real/photos/a.jpg")}));
}

// A link is followed only when it is the user's own (or root's). One that
// another user planted is refused and named; a dangling link of ours writes
// the file it names; a loop is refused. Nothing is silently replaced by a
// plain file.
TEST_F(SetFiles, LinksAreFollowedOnlyWhenTheyAreTheUsersOwn) {
    ASSERT_TRUE(writeText(dir.file("victim"), "root's own file"));
    std::filesystem::create_symlink(dir.file("victim"), dir.file("planted.ini"));
    std::filesystem::create_symlink(dir.file("victim"), dir.file("own1.txt"));
    std::filesystem::create_symlink(dir.file("made.ini"), dir.file("dangling.ini"));
    std::filesystem::create_symlink(dir.file("loop2.ini"), dir.file("loop.ini"));
    std::filesystem::create_symlink(dir.file("loop.ini"), dir.file("loop2.ini"));
    std::filesystem::create_symlink(dir.file("nofolder/made.ini"), dir.file("nowhere.ini"));
    const bool canPlant = ::geteuid() == 0;
    if (canPlant) { // as the user nobody would have made them
        ASSERT_EQ(::lchown(dir.file("planted.ini").c_str(), 65534, 65534), 0);
        ASSERT_EQ(::lchown(dir.file("own1.txt").c_str(), 65534, 65534), 0);
    }
    const struct {
        const char* name;
        const char* saved;
        const char* message; // null: saved
        bool needsRoot;
    } cases[] = {
        {"a link of another user", "planted.ini", "belongs to another user", true},
        {"a list link of another user", "own.ini", "belongs to another user", true},
        {"a dangling link of ours", "dangling.ini", nullptr, false},
        {"a loop of links", "loop.ini", "loop", false},
        {"a dangling link into a missing folder", "nowhere.ini", "goes into does not exist", false},
    };
    series({"/a.jpg"}, {}, {});
    toolkit.askAnswers.assign(8, true);
    for (const auto& c : cases) {
        if (c.needsRoot && !canPlant)
            continue;
        const qsizetype errors = fileErrors().size();
        save(dir.file(c.saved));
        EXPECT_TRUE(std::filesystem::is_symlink(dir.file(c.saved)) ||
                    std::string(c.saved) == "own.ini")
            << c.name;
        if (c.message == nullptr) {
            EXPECT_EQ(fileErrors().size(), errors) << c.name;
            EXPECT_NE(readText(dir.file("made.ini")).find("Speed="), std::string::npos);
            continue;
        }
        ASSERT_EQ(fileErrors().size(), errors + 1) << c.name;
        EXPECT_TRUE(fileErrors().back().contains(QLatin1String(c.message)))
            << c.name << ": " << fileErrors().back().toStdString();
    }
    EXPECT_EQ(readText(dir.file("victim")), "root's own file");
    EXPECT_FALSE(std::filesystem::exists(dir.file("own.ini")));
}

// A value quoted from a file, or a file name, cannot reorder, hide or split
// the words of the message around it, nor look like another name: every
// character that is blank or invisible but a plain space shows as its code.
TEST_F(SetFiles, QuotedValuesCannotReorderTheMessage) {
    const struct {
        const char* utf8;
        const char* code;
    } cases[] = {{"\xE2\x80\xAE", "<U+202E>"}, // right-to-left override
                 {"\xE2\x80\xA8", "<U+2028>"}, // line separator
                 {"\xE2\x80\xA9", "<U+2029>"}, // paragraph separator
                 {"\xE2\x80\x8B", "<U+200B>"}, // zero-width space
                 {"\xEF\xBB\xBF", "<U+FEFF>"}, // zero-width no-break space
                 {"\xF3\xA0\x80\x81", "<U+E0001>"},
                 {"\xC2\xA0", "<U+00A0>"},     // no-break space
                 {"\xE2\x80\x87", "<U+2007>"}, // figure space
                 {"\xE3\x80\x80", "<U+3000>"}, // ideographic space
                 {"\xCD\x8F", "<U+034F>"},     // combining grapheme joiner
                 {"\xE3\x85\xA4", "<U+3164>"}, // Hangul filler
                 {"\xE2\xA0\x80", "<U+2800>"}, // braille pattern blank
                 {"\xEF\xB8\x8F", "<U+FE0F>"}, // variation selector
                 {" ", " "},
                 {"\xC3\xA9", "\xC3\xA9"}}; // plain space and letters stay
    for (const auto& c : cases) {
        const std::string name = dir.file(std::string("evil") + c.utf8 + "gpj.ini");
        ASSERT_TRUE(writeText(name, std::string("[View Options]\nSpeed=12") + c.utf8 + "34\n"));
        toolkit.shown.clear();
        load(name);
        ASSERT_EQ(fileErrors().size(), 1) << c.code;
        const QString message = fileErrors()[0];
        EXPECT_TRUE(message.contains(QStringLiteral("reads \"12") + c.code + "34\"."))
            << message.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("evil%1gpj.ini").arg(c.code)))
            << message.toStdString();
    }
    // Bytes of a name that are no UTF-8 (an image list named by a script in
    // another encoding) show as their codes too, so that two names differing
    // only in them differ on the screen.
    for (const char* byte : {"\xFF", "\xFE", "\xC3"}) {
        const std::string list = dir.file(std::string("odd") + byte + "name1.txt");
        ASSERT_TRUE(writeText(dir.file("odd.ini"), "[Lower Series]\nImageList1=" + list +
                                                       "\n[View Options]\nSpeed=5\n"));
        toolkit.shown.clear();
        load(dir.file("odd.ini"));
        ASSERT_EQ(fileErrors().size(), 1);
        const QString code =
            QStringLiteral("odd<0x%1>name1.txt")
                .arg(QString::number(static_cast<unsigned char>(byte[0]), 16).toUpper());
        EXPECT_TRUE(fileErrors()[0].contains(code)) << fileErrors()[0].toStdString();
    }
}
