// `qevtool convert`, run as a user runs it: the file F10 writes, failures
// and usage.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/gltf_export.h"
#include "app/scene.h"
#include "export/x_mesh_writer.h"
#include "tests/common/temp_dir.h"
#include "tests/export/x_test_util.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/sample_character.h"

namespace {

qev::test::CommandRun Qevtool(const qev::test::TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(QevtoolConvert, WritesTheFileOfTheViewersWriter) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  dir.WriteFile("out.x", "an older export");
  const auto run = Qevtool(dir, "convert m.pmd -o out.x");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  CModelDescription model;
  ASSERT_TRUE(qev::test::LoadModel(model, qev::fixture::SamplePmd()));
  ASSERT_EQ(qev::xfile::WriteXMesh(model, dir.Path("direct.x").c_str(), nullptr), 1);
  EXPECT_EQ(dir.ReadFile("out.x"), dir.ReadFile("direct.x"));
  EXPECT_EQ(dir.ReadFile("out.x").rfind("xof 0303txt 0032\r\n\r\nMesh {\r\n 8;\r\n", 0), 0u);
}

// A .glb or .gltf name: the viewer's glTF export of the same model, with
// every file the same byte for byte.
TEST(QevtoolConvert, AGltfNameWritesTheViewersGltf) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  CScene scene;
  std::string failure;
  ASSERT_EQ(scene.LoadModel(dir.Path("m.pmd").c_str(), nullptr, &failure), 1);
  for (const char* name : {"out.glb", "out.gltf"}) {
    SCOPED_TRACE(name);
    const auto run = Qevtool(dir, std::string("convert m.pmd -o ") + name);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string direct = std::string("direct") + (name + 3);
    ASSERT_EQ(ExportGltf(scene, dir.Path("m.pmd"), dir.Path(direct).c_str(), false, nullptr, &failure), 1);
    std::string text = dir.ReadFile(direct);
    const size_t bin = text.find("\"direct.bin\"");
    if (bin != std::string::npos) text.replace(bin, 12, "\"out.bin\"");  // the .gltf names its .bin
    EXPECT_EQ(dir.ReadFile(name), text);
  }
  EXPECT_EQ(dir.ReadFile("out.bin"), dir.ReadFile("direct.bin"));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"direct.bin", "direct.glb", "direct.gltf", "m.pmd", "out.bin",
                                                  "out.glb", "out.gltf", "stderr.txt"}));
}

TEST(QevtoolConvert, AFileSizeLimitFailsTheWriteAndKeepsTheOldFile) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  ASSERT_EQ(Qevtool(dir, "convert m.pmd -o whole.x").status, 0);
  ASSERT_GT(dir.ReadFile("whole.x").size(), 512u);
  dir.WriteFile("keep.x", "old");
  // a limit of one 512-byte block: the tool lives on to say why
  const auto run = qev::test::RunIn(dir, "ulimit -f 1; '" QEV_BINARY_DIR "/qevtool' convert m.pmd -o keep.x");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(Has(run.err, "qevtool convert: keep.x: write failed (File too large)\n")) << run.err;
  EXPECT_EQ(dir.ReadFile("keep.x"), "old");
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"keep.x", "m.pmd", "stderr.txt", "whole.x"}));
}

// A PMX model converts as the viewer's writer writes it, and a damaged one
// is refused with its reader's reason.
TEST(QevtoolConvert, TakesPmxModels) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmx", qev::fixture::BuildPmx(qev::fixture::SamplePmx()));
  dir.WriteFile("bad.pmx", qev::fixture::BuildPmx(qev::fixture::SamplePmx()).substr(0, 200));
  const auto run = Qevtool(dir, "convert m.pmx -o out.x");
  ASSERT_EQ(run.status, 0) << run.err;
  CModelDescription model;
  ASSERT_TRUE(model.Load(dir.Path("m.pmx").c_str()));
  ASSERT_EQ(qev::xfile::WriteXMesh(model, dir.Path("direct.x").c_str(), nullptr), 1);
  EXPECT_EQ(dir.ReadFile("out.x"), dir.ReadFile("direct.x"));
  EXPECT_EQ(dir.ReadFile("out.x").rfind("xof 0303txt 0032\r\n\r\nMesh {\r\n 6;\r\n", 0), 0u);
  EXPECT_TRUE(Has(dir.ReadFile("out.x"), "\"tex\\body.png\";")) << "the texture table's name";
  const auto bad = Qevtool(dir, "convert bad.pmx -o bad.x");
  EXPECT_EQ(bad.status, 1);
  EXPECT_TRUE(Has(bad.err, "qevtool convert: bad.pmx: PMX error : ")) << bad.err;
  const std::vector<std::string> files = dir.List();
  EXPECT_EQ(std::find(files.begin(), files.end(), "bad.x"), files.end()) << "nothing written";
}

TEST(QevtoolConvert, FailuresAndUsage) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  dir.WriteFile("bad.pmd", "Pmd and then nothing");
  dir.WriteFile("keep.x", "old");
  ASSERT_EQ(::system(("mkdir '" + dir.Path("folder.x") + "'").c_str()), 0);
  struct Case {
    const char* args;
    int status;
    const char* err;
  };
  const Case cases[] = {
      {"convert missing.pmd -o keep.x", 1, "qevtool convert: missing.pmd: No such file or directory\n"},
      {"convert bad.pmd -o keep.x", 1, "qevtool convert: bad.pmd: "},
      {"convert m.pmd -o folder.x", 1, "qevtool convert: folder.x: a folder has that name"},
      {"convert m.pmd -o gone/out.x", 1, "qevtool convert: gone/out.x: cannot create the file"},
      {"convert bad.pmd -o out.glb", 1, "qevtool convert: bad.pmd: "},
      {"convert missing.pmd -o out.gltf", 1, "qevtool convert: missing.pmd: No such file or directory\n"},
      {"convert m.pmd -o gone/out.glb", 1, "qevtool convert: gone/out.glb: cannot create the file"},
      {"convert m.pmd", 2, "usage: qevtool convert MODEL -o OUT.x"},
      {"convert -o keep.x", 2, "usage: qevtool convert"},
      {"convert m.pmd m.pmd -o keep.x", 2, "more than one model"},
      {"convert m.pmd -o keep.x --bogus", 2, "unknown option '--bogus'"},
      {"convert m.pmd -o", 2, "unknown option '-o'"},
  };
  for (const Case& c : cases) {
    const auto run = Qevtool(dir, c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
    EXPECT_TRUE(Has(run.err, c.err)) << c.args << "\n" << run.err;
  }
  EXPECT_EQ(dir.ReadFile("keep.x"), "old");
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"bad.pmd", "folder.x", "keep.x", "m.pmd", "stderr.txt"}));
  const auto help = Qevtool(dir, "convert --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, "usage: qevtool convert MODEL -o OUT.x")) << help.out;
}

// Where -o leads decides how the file is written: a read-only file is
// refused, a link is followed to where it ends and stays a link.
TEST(QevtoolConvert, ReadOnlyFilesAndLinks) {
  struct Case {
    const char* setUp;  // shell commands run in the folder
    const char* target;
    int status;
    const char* err;
    const char* written;  // where the X file lands
  };
  const Case cases[] = {
      {"echo old > ro.x && chmod 0444 ro.x", "ro.x", 1, "qevtool convert: ro.x: not writable (Permission denied)\n",
       nullptr},
      {"ln -s real.x dangling.x", "dangling.x", 0, "", "real.x"},
      {"ln -s b.x a.x && ln -s a.x b.x", "a.x", 1,
       "qevtool convert: a.x: cannot follow the name (Too many levels of symbolic links)\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    qev::test::TempDir dir;
    dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
    ASSERT_EQ(Qevtool(dir, "convert m.pmd -o direct.x").status, 0);
    // every name but the X file's with its kind, mode and link target
    const std::string list = std::string("find . ! -name '*.txt' ! -name direct.x ") +
                             (c.written ? std::string("! -path './") + c.written + "' " : "") +
                             "-printf '%p %y %m %l\\n' | sort > ";
    ASSERT_EQ(::system(("cd '" + dir.Path() + "' && " + c.setUp + " && " + list + "before.txt").c_str()), 0);
    const auto run = Qevtool(dir, std::string("convert m.pmd -o ") + c.target);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.err, c.err);
    if (c.written) {
      EXPECT_EQ(dir.ReadFile(c.written), dir.ReadFile("direct.x"));
    }
    ASSERT_EQ(::system(("cd '" + dir.Path() + "' && " + list + "after.txt").c_str()), 0);
    EXPECT_EQ(dir.ReadFile("after.txt"), dir.ReadFile("before.txt")) << "a link or a file changed, or a file was left";
  }
}

// A device or a FIFO takes the text in place, as it would from any program
// that opens it for writing; a full device fails the run.
TEST(QevtoolConvert, DevicesAndFifosAreWrittenInPlace) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  ASSERT_EQ(Qevtool(dir, "convert m.pmd -o direct.x").status, 0);
  // the superuser writes to twins made here: a writer that replaced the
  // device would otherwise replace the system's own
  const bool root = geteuid() == 0;
  if (root && (mknod(dir.Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
               mknod(dir.Path("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0))
    GTEST_SKIP() << "no device node can be made here";
  const std::string null = root ? dir.Path("null") : "/dev/null";
  const std::string full = root ? dir.Path("full") : "/dev/full";
  struct stat st {};

  auto run = Qevtool(dir, "convert m.pmd -o " + null);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(lstat(null.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) << "the device was replaced";

  run = Qevtool(dir, "convert m.pmd -o " + full);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "qevtool convert: " + full + ": write failed (No space left on device)\n");
  EXPECT_TRUE(lstat(full.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) << "the device was replaced";

  // a reader in the background, which a writer that never opens the FIFO
  // leaves waiting for its time-out
  ASSERT_EQ(mkfifo(dir.Path("fifo.x").c_str(), 0644), 0);
  run = qev::test::RunIn(dir, "{ timeout 20 cat fifo.x > got.x & '" QEV_BINARY_DIR
                              "/qevtool' convert m.pmd -o fifo.x; s=$?; wait; exit $s; }");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.ReadFile("got.x"), dir.ReadFile("direct.x"));
  EXPECT_TRUE(lstat(dir.Path("fifo.x").c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
  const std::vector<std::string> names = dir.List();
  EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n[0] == '.'; }), 0)
      << "a temporary file was left";
}

// A .gltf's .bin and pictures are held to the rules of the file itself, and
// a failure names the one that failed. No byte reaches any of them before
// all are written: a full device under one name leaves the files, links and
// devices under the others as they were.
TEST(QevtoolConvert, TheFilesBesideAGltfAreWrittenAllOrNone) {
  // the superuser gets devices of his own here; anyone else, links to the
  // system's (whose nodes no one else can remove)
  const bool root = geteuid() == 0;
  const std::string full = root ? "mknod %s c 1 7" : "ln -s /dev/full %s";
  const std::string null = root ? "mknod %s c 1 3" : "ln -s /dev/null %s";
  auto make = [](const std::string& pattern, const char* name) {
    std::string command = pattern;
    command.replace(command.find("%s"), 2, name);
    return command;
  };
  struct Case {
    std::string setUp;  // shell commands run in the folder
    const char* err;
  };
  const Case cases[] = {
      {"echo old > T.bin && chmod 0444 T.bin", "qevtool convert: T.gltf: T.bin: not writable (Permission denied)\n"},
      {"echo old > T_0.png && chmod 0444 T_0.png",
       "qevtool convert: T.gltf: T_0.png: not writable (Permission denied)\n"},
      {"ln -s b T.bin && ln -s T.bin b",
       "qevtool convert: T.gltf: T.bin: cannot follow the name (Too many levels of symbolic links)\n"},
      {"echo old > T.gltf && " + make(full, "T.bin"),
       "qevtool convert: T.gltf: T.bin: write failed (No space left on device)\n"},
      {"echo old > T.gltf && echo old > T.bin && " + make(full, "T_0.png"),
       "qevtool convert: T.gltf: T_0.png: write failed (No space left on device)\n"},
      {"echo old > T.bin && echo old > T_0.png && " + make(full, "T.gltf"),
       "qevtool convert: T.gltf: write failed (No space left on device)\n"},
      {make(null, "T.bin") + " && " + make(full, "T.gltf"),
       "qevtool convert: T.gltf: write failed (No space left on device)\n"},
      {"echo keep > x && ln -s x T.bin && " + make(full, "T.gltf"),
       "qevtool convert: T.gltf: write failed (No space left on device)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setUp);
    qev::test::TempDir dir;
    dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
    dir.WriteFile("skin.bmp", qev::fixture::SampleTexture());
    // every name with its kind, mode, size and link target
    const std::string list = "find . ! -name '*.txt' -printf '%p %y %m %s %l\\n' | sort > ";
    ASSERT_EQ(std::system(("cd '" + dir.Path() + "' && " + c.setUp + " && " + list + "before.txt").c_str()), 0);
    const auto run = Qevtool(dir, "convert m.pmd -o T.gltf");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, c.err);
    ASSERT_EQ(std::system(("cd '" + dir.Path() + "' && " + list + "after.txt").c_str()), 0);
    EXPECT_EQ(dir.ReadFile("after.txt"), dir.ReadFile("before.txt")) << "a file, link or device changed, or one was left";
  }
}

}  // namespace
