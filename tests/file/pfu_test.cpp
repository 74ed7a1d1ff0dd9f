// Records, text conversion, alternation, access codes, copying, streams, statuses and paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "file_test_util.h"
#include "platform/stream_socket.h"
#include "runtime/file/pfu.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/xar.h"

using filetest::Reports;
using filetest::write_bytes;
using testsupport::read_file;

namespace {

PF_File_Ptr open_file(const char* name, int access, int kind, int buffer_size) {
  PF_File_Ptr file = nullptr;
  EXPECT_EQ(pfu_fopen(name, access, kind, buffer_size, &file), PFU_SUCCESS) << name;
  return file;
}

}  // namespace

TEST(PfuText, LineEndsAreConvertedBothWays) {
  for (const char* written : {"a\nb", "a\r\nb"}) {
    PF_File_Ptr file = open_file("t.txt", 6, PFU_Text, 64);
    ASSERT_EQ(pfu_fputs(file, written), PFU_SUCCESS);
    ASSERT_EQ(pfu_fclose(&file), PFU_SUCCESS);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(read_file("t.txt"), "a\r\nb") << written;
  }
  // Requests above half the buffer go straight through: 3000 converted bytes need a heap area.
  std::string big(3000, 'x');
  big[10] = '\n';
  PF_File_Ptr file = open_file("big.txt", 6, PFU_Text, 64);
  ASSERT_EQ(pfu_fwrite(file, (int)big.size(), big.data()), PFU_SUCCESS);
  ASSERT_EQ(pfu_fclose(&file), PFU_SUCCESS);
  EXPECT_EQ(read_file("big.txt").size(), big.size() + 1);
}

// Text reads drop every CR at every buffer and request size, the direct reads above half the
// buffer included: read in pieces, the file gives the text with CR LF read as LF.
TEST(PfuText, ReadsConvertAtEverySize) {
  std::string text, expected;
  for (int i = 0; i < 700; ++i) {
    const std::string line(std::string::size_type(i % 23), (char)('a' + i % 26));
    text += line + "\r\n";
    expected += line + "\n";
  }
  write_bytes("crlf.txt", text);
  for (int buffer_size : {0, 1, 2, 64, 4096}) {
    for (int request : {1, 3, 33, 40, 3000, 9000}) {
      PF_File_Ptr file = open_file("crlf.txt", 1, PFU_Text, buffer_size);
      std::string got_text, piece((size_t)request, 0);
      int got = 0, status;
      while ((status = pfu_fread(file, request, &got, piece.data())) == PFU_SUCCESS)
        got_text.append(piece, 0, (size_t)got);
      EXPECT_EQ(status, PFU_EOF);
      EXPECT_EQ(got_text, expected) << "buffer " << buffer_size << ", request " << request;
      pfu_fclose(&file);
    }
  }
}

// Over a pipe a read returns what has arrived; no CR gets through however the text is cut.
TEST(PfuText, PipeReadsLetNoCarriageReturnThrough) {
  platform_fh read_end, write_end;
  ASSERT_TRUE(platform_pipe(&read_end, &write_end));
  constexpr int kLines = 200000;
  std::thread writer([write_end] {
    std::string chunk;
    for (int i = 0; i < kLines; ++i) {
      chunk += "line " + std::to_string(i) + "\r\n";
      if (chunk.size() > 3000 || i + 1 == kLines) {
        int written = 0;
        EXPECT_TRUE(platform_file_write(write_end, chunk.data(), (int)chunk.size(), &written));
        chunk.clear();
      }
    }
    platform_file_close(write_end);
  });
  PF_File_Ptr reader = nullptr;
  pfu_fdopen(read_end, PF_NULL_Descriptor, nullptr, PFU_Readable, PFU_Pipe, PFU_Text, 512, &reader);
  std::string got_text, piece(5000, 0);
  int got = 0;
  while (pfu_fread(reader, (int)piece.size(), &got, piece.data()) == PFU_SUCCESS)
    got_text.append(piece, 0, (size_t)got);
  writer.join();
  pfu_fclose(&reader);
  EXPECT_EQ(std::count(got_text.begin(), got_text.end(), '\r'), 0);
  EXPECT_EQ(std::count(got_text.begin(), got_text.end(), '\n'), kLines);
  EXPECT_EQ(got_text.substr(got_text.size() - 12), "line 199999\n");
}

TEST(PfuState, ReadsAndWritesAlternateOnlyThroughSeekOrFlush) {
  Reports reports;
  PF_File_Ptr file = open_file("s.bin", 7, PFU_Binary, 16);
  char buffer[8];
  int got = 0;
  ASSERT_EQ(pfu_fwrite(file, 4, "abcd"), PFU_SUCCESS);
  EXPECT_EQ(pfu_fread(file, 1, &got, buffer), PFU_TRAP);
  EXPECT_NE(reports.take().find("attempt to read after write without an fseek"), std::string::npos);
  ASSERT_EQ(pfu_fseek(file, 1, PFU_SEEK_SET), PFU_SUCCESS);
  EXPECT_EQ(pfu_fread(file, 2, &got, buffer), PFU_SUCCESS);
  EXPECT_EQ(std::string(buffer, got), "bc");
  EXPECT_EQ(pfu_ftell(file), 3);
  EXPECT_EQ(pfu_fwrite(file, 1, "X"), PFU_TRAP);
  EXPECT_NE(reports.take().find("attempt to write after reading without fseek."),
            std::string::npos);
  // The relative seek counts from where the reader stands, not from the read-ahead.
  ASSERT_EQ(pfu_fseek(file, -1, PFU_SEEK_CUR), PFU_SUCCESS);
  EXPECT_EQ(pfu_fwrite(file, 1, "X"), PFU_SUCCESS);
  EXPECT_EQ(pfu_ftell(file), 3);
  ASSERT_EQ(pfu_fclose(&file), PFU_SUCCESS);
  EXPECT_EQ(read_file("s.bin"), "abXd");

  // Opened for reading only or writing only.
  file = open_file("s.bin", 1, PFU_Binary, 16);
  EXPECT_EQ(pfu_fwrite(file, 1, "X"), PFU_TRAP);
  EXPECT_EQ(pfu_ftruncate(file, 0), PFU_TRAP);
  EXPECT_NE(reports.take().find("write to a file which is not write-open."), std::string::npos);
  pfu_fclose(&file);
  file = open_file("s.bin", 10, PFU_Binary, 16);  // positioned at the end
  EXPECT_EQ(pfu_ftell(file), 4);
  EXPECT_EQ(pfu_fread(file, 1, &got, buffer), PFU_TRAP);
  EXPECT_NE(reports.take().find("read from a file which is not read-open."), std::string::npos);
  pfu_fclose(&file);
  EXPECT_EQ(pfu_fclose(&file), PFU_NO_CHANGE);
  EXPECT_EQ(pfu_ftell(nullptr), -1);
  EXPECT_NE(reports.take().find("in pfu_ftell : ***"), std::string::npos);
  // A null record or argument is refused under the name of the routine it was given to.
  int byte = 0, copied = 0;
  file = open_file("s.bin", 1, PFU_Binary, 16);
  const struct {
    const char* name;
    std::function<int()> call;
    const char* complaint;
  } refusals[] = {
      {"pfu_fflush", [] { return pfu_fflush(nullptr); }, "NULL PF_File_Ptr"},
      {"pfu_fputc", [] { return pfu_fputc(nullptr, 'x'); }, "NULL PF_File_Ptr"},
      {"pfu_fputs", [] { return pfu_fputs(nullptr, "x"); }, "NULL PF_File_Ptr"},
      {"pfu_fgetc", [&] { return pfu_fgetc(nullptr, &byte); }, "NULL PF_File_Ptr"},
      {"pfu_fcopy", [&] { return pfu_fcopy(nullptr, nullptr, -1, &copied); }, "NULL PF_File_Ptr"},
      {"pfu_fsend", [] { return pfu_fsend(nullptr, nullptr); }, "NULL PF_File_Ptr"},
      {"pfu_freceive", [] { return pfu_freceive(nullptr, nullptr); }, "NULL PF_File_Ptr"},
      {"pfu_fread", [&] { return pfu_fread(file, 1, nullptr, buffer); }, "NULL argument"},
      {"pfu_fread", [&] { return pfu_fread(file, 1, &got, nullptr); }, "NULL argument"},
  };
  for (const auto& [name, call, complaint] : refusals) {
    EXPECT_EQ(call(), PFU_TRAP) << name;
    const std::string text = reports.take();
    EXPECT_NE(text.find("in " + std::string(name) + " : ***"), std::string::npos) << text;
    EXPECT_NE(text.find(complaint), std::string::npos) << text;
  }
  pfu_fclose(&file);
}

TEST(PfuOpen, AccessCodesAndKinds) {
  Reports reports;
  PF_File_Ptr file = nullptr;
  EXPECT_EQ(pfu_fopen("new.bin", 16, PFU_Binary, 0, &file), PFU_SUCCESS);
  EXPECT_EQ(file, nullptr);
  EXPECT_TRUE(filetest::exists("new.bin"));
  EXPECT_EQ(read_file("new.bin"), "");
  EXPECT_EQ(pfu_fopen("new.bin", 16, PFU_Binary, 0, &file), PFU_EXISTS);

  for (int access : {0, 4, 5, 8, 9, 12, 15, 17, 32}) {
    EXPECT_EQ(pfu_fopen("x.bin", access, PFU_Binary, 0, &file), PFU_TRAP);
    EXPECT_NE(reports.take().find("bad access " + std::to_string(access)), std::string::npos);
  }
  EXPECT_EQ(pfu_fopen("x.bin", 1, 3, 0, &file), PFU_TRAP);
  EXPECT_NE(reports.take().find("Not text or binary file."), std::string::npos);
  EXPECT_FALSE(filetest::exists("x.bin"));

  // 6 replaces, 2 keeps, 11 appends; every record has the absolute portable path.
  write_bytes("k.bin", "hello");
  file = open_file("k.bin", 2, PFU_Binary, 8);
  pfu_fputs(file, "J");
  EXPECT_TRUE(pfu_abs_path(file->path));
  EXPECT_STREQ(pfu_path_tail(file->path), "k.bin");
  pfu_fclose(&file);
  EXPECT_EQ(read_file("k.bin"), "Jello");
  file = open_file("k.bin", 11, PFU_Binary, 8);
  pfu_fputs(file, "!");
  pfu_fclose(&file);
  EXPECT_EQ(read_file("k.bin"), "Jello!");
  file = open_file("k.bin", 6, PFU_Binary, 8);
  pfu_fclose(&file);
  EXPECT_EQ(read_file("k.bin"), "");
  EXPECT_EQ(pfu_fopen("no|such|dir|f", 1, PFU_Binary, 8, &file), PFU_NO_ENTRY);

  // A name of 256 characters does not fit the path buffer: reported, and nothing is opened.
  EXPECT_NE(pfu_fopen(std::string(256, 'n').c_str(), 2, PFU_Binary, 8, &file), PFU_SUCCESS);
  EXPECT_NE(reports.take().find("OVERFLOW."), std::string::npos);
  EXPECT_EQ(file, nullptr);
}

TEST(PfuOpen, PathThatCannotBeFormedTouchesNoFile) {
  // The name fits, but the current folder and the name do not fit 255 bytes: refused before
  // anything is opened, so an existing file keeps its bytes and a missing one is not created.
  char cwd[PFU_PATH_MAX];
  ASSERT_EQ(pfu_getcwd(cwd), PFU_SUCCESS);
  const std::string name(255 - strlen(cwd), 'L'), missing(255 - strlen(cwd), 'M');
  write_bytes(name, "kept");
  for (int access : {1, 2, 3, 6, 7, 10, 11}) {
    PF_File_Ptr file = nullptr;
    EXPECT_EQ(pfu_fopen(name.c_str(), access, PFU_Binary, 8, &file), PFU_NAME_TOO_LONG) << access;
    EXPECT_EQ(pfu_fopen(missing.c_str(), access, PFU_Binary, 8, &file), PFU_NAME_TOO_LONG);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(read_file(name), "kept") << access;
    EXPECT_FALSE(filetest::exists(missing)) << access;
  }
}

TEST(PfuOpen, OpenFileListFollowsOpensAndCloses) {
  Reports reports;
  pfu_set_dbg_list(1);
  PF_File_Ptr a = open_file("a", 6, PFU_Binary, 0), b = open_file("b", 6, PFU_Binary, 0);
  PF_File_Ptr* list = pfu_dbg_list();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(XAR_COUNT(&list), 2);
  pfu_fclose(&a);
  list = pfu_dbg_list();
  EXPECT_EQ(XAR_COUNT(&list), 1);
  EXPECT_EQ(list[0], b);
  // A wrapped handle never was in the list.
  PF_File_Ptr wrapped = nullptr;
  pfu_fdopen(PF_NULL_Handle, PF_NULL_Descriptor, nullptr, 1 | PFU_Keep_Handle, PFU_Pipe, PFU_Binary,
             0, &wrapped);
  pfu_fclose(&wrapped);
  EXPECT_NE(reports.take().find("open file is not in dbg. list."), std::string::npos);
  pfu_set_dbg_list(0);
  // Wrapping checks that a socket has no handle and a handle no socket; the record is made anyway.
  pfu_fdopen(7, 9, nullptr, 1 | PFU_Keep_Handle, PFU_INET_Socket, PFU_Binary, 0, &wrapped);
  EXPECT_NE(reports.take().find("h_file != PF_NULL_Handle, while type = PFU_INET_Socket"),
            std::string::npos);
  EXPECT_EQ(pfu_ftruncate(wrapped, 0), PFU_TRAP);
  EXPECT_NE(reports.take().find("file must be text or binary"), std::string::npos);
  pfu_fclose(&wrapped);
  pfu_fdopen(7, 9, nullptr, 1 | PFU_Keep_Handle, PFU_Pipe, PFU_Binary, 0, &wrapped);
  EXPECT_NE(reports.take().find("h_file != PF_NULL_Descriptor, while type != PFU_INET_Socket"),
            std::string::npos);
  pfu_fclose(&wrapped);
  pfu_set_dbg_list(1);
  pfu_fclose(&b);
  pfu_set_dbg_list(0);
  EXPECT_EQ(pfu_dbg_list(), nullptr);
}

TEST(PfuCopy, PiecesUpToTheEnd) {
  std::string data(1300, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = (char)(i * 7);
  write_bytes("src.bin", data);
  struct Case {
    int n;
    int status;
    int copied;
  };
  for (const Case c : {Case{-1, PFU_SUCCESS, 1300}, Case{700, PFU_SUCCESS, 700},
                       Case{0, PFU_SUCCESS, 0}, Case{2000, PFU_EOF, 1300}}) {
    PF_File_Ptr from = open_file("src.bin", 1, PFU_Binary, 100),
                to = open_file("dst.bin", 6, PFU_Binary, 0);
    int copied = -5;
    EXPECT_EQ(pfu_fcopy(from, to, c.n, &copied), c.status) << c.n;
    EXPECT_EQ(copied, c.copied) << c.n;
    pfu_fclose(&from);
    pfu_fclose(&to);
    EXPECT_EQ(read_file("dst.bin"), data.substr(0, (size_t)c.copied));
  }
}

namespace {

// Sends a text file through a writer record and receives it through a reader record. The
// runtime has one thread, so the text is kept small enough for the channel to hold it all.
void send_and_receive(PF_File_Ptr writer, PF_File_Ptr reader) {
  std::string text;
  for (int i = 0; i < 250; ++i) text += "line " + std::to_string(i) + (i % 3 ? "\n" : "\r\n");
  write_bytes("out.txt", text);
  EXPECT_EQ(pfu_send_file("out.txt", writer), PFU_SUCCESS);
  EXPECT_EQ(pfu_fflush(writer), PFU_SUCCESS);
  EXPECT_EQ(pfu_receive_file(reader, "in.txt"), PFU_SUCCESS);
  // Both files are text files: LF on the way, CR LF on disk.
  std::string expected;
  for (int i = 0; i < 250; ++i) expected += "line " + std::to_string(i) + "\r\n";
  EXPECT_EQ(read_file("in.txt"), expected);
}

}  // namespace

TEST(PfuStreams, PipeCarriesATextFile) {
  platform_fh read_end, write_end;
  ASSERT_TRUE(platform_pipe(&read_end, &write_end));
  PF_File_Ptr writer = nullptr, reader = nullptr;
  pfu_fdopen(write_end, PF_NULL_Descriptor, nullptr, PFU_Writable, PFU_Pipe, PFU_Binary, 512,
             &writer);
  pfu_fdopen(read_end, PF_NULL_Descriptor, nullptr, PFU_Readable, PFU_Pipe, PFU_Binary, 512,
             &reader);
  send_and_receive(writer, reader);
  {
    Reports reports;
    EXPECT_EQ(pfu_fseek(reader, 0, PFU_SEEK_SET), PFU_TRAP);
    EXPECT_EQ(pfu_ftell(reader), -1);
    const std::string text = reports.take();
    EXPECT_NE(text.find("attempt to seek on pipe"), std::string::npos);
    EXPECT_NE(text.find("attempt to call on pipe."), std::string::npos);
  }
  // Once the writer has gone, the reader sees the end.
  pfu_fclose(&writer);
  int byte = 0;
  EXPECT_EQ(pfu_fgetc(reader, &byte), PFU_EOF);
  pfu_fclose(&reader);
}

TEST(PfuStreams, LoopbackSocketCarriesATextFile) {
  int client, server;
  ASSERT_TRUE(platform_socket_loopback_pair(&client, &server));
  PF_File_Ptr writer = nullptr, reader = nullptr;
  pfu_fdopen(PF_NULL_Handle, client, nullptr, PFU_Writable, PFU_INET_Socket, PFU_Text, 512,
             &writer);
  pfu_fdopen(PF_NULL_Handle, server, nullptr, PFU_Readable, PFU_INET_Socket, PFU_Text, 512,
             &reader);
  send_and_receive(writer, reader);

  // A large text request bypasses the buffer and drops CRs on the way in.
  std::string big;
  for (int i = 0; i < 1100; ++i) big += "0123456\r\n";
  ASSERT_EQ(pfu_write_internal(writer, (int)big.size(), big.data(), nullptr), PFU_SUCCESS);
  std::string got(big.size(), 0);
  int n = 0;
  const int want = 1100 * 8;  // above the 8192 bytes of the stack area
  EXPECT_EQ(pfu_fread(reader, want, &n, got.data()), PFU_SUCCESS);
  EXPECT_EQ(n, want);
  for (int i = 0; i < n; i += 8) ASSERT_EQ(got.substr((size_t)i, 8), "0123456\n");
  pfu_fclose(&writer);
  int byte;
  EXPECT_EQ(pfu_fgetc(reader, &byte), PFU_EOF);
  pfu_fclose(&reader);
}

TEST(PfuStreams, EndOfTextByteIsRefusedInAFile) {
  Reports reports;
  write_bytes("ctl.txt", std::string("ab\x04", 3));
  PF_File_Ptr sink = open_file("sink.bin", 6, PFU_Binary, 0);
  EXPECT_EQ(pfu_send_file("ctl.txt", sink), PFU_TRAP);
  EXPECT_NE(reports.take().find("is not permitted in text files"), std::string::npos);
  pfu_fclose(&sink);
  EXPECT_EQ(read_file("sink.bin"), "ab");
  EXPECT_EQ(pfu_send_file("missing.txt|x", sink), PFU_NO_ENTRY);
}

// Real failures of the platform reach the caller as statuses whose texts name them.
TEST(PfuStatus, FailuresGiveTheirStatusAndText) {
  write_bytes("plain", "x");
  PF_File_Ptr file = nullptr;
  const struct {
    const char* name;
    int access;
    int buffer_size;
    const char* text;
  } failures[] = {
      {"no_folder|file", 1, 0, "Entry Does Not Exist"},
      {"no_folder|file", 1, 64, "Entry Does Not Exist"},
      {"plain|inside", 1, 0, "Entry Does Not Exist"},  // a file taken for a folder
      {"plain", 16, 0, "Entry Already Exists"},
  };
  // A refused open keeps no block.
  int blocks = 0, blocks_after = 0;
  getmem_counters(&blocks, nullptr, nullptr, nullptr);
  for (const auto& failure : failures)
    EXPECT_STREQ(pfu_status_to_msg(pfu_fopen(failure.name, failure.access, PFU_Binary,
                                             failure.buffer_size, &file)),
                 failure.text)
        << failure.name;
  getmem_counters(&blocks_after, nullptr, nullptr, nullptr);
  EXPECT_EQ(blocks_after, blocks);
  EXPECT_EQ(file, nullptr);
  file = open_file("plain", 1, PFU_Binary, 0);
  EXPECT_STREQ(pfu_status_to_msg(pfu_fseek(file, -1, PFU_SEEK_SET)),
               "Internal Error (Invalid Arg)");
  pfu_fclose(&file);
  errno = ERANGE;  // named by no status
  EXPECT_STREQ(pfu_status_to_msg(pfu_errno_status()), "Internal Error (Trap)");
  Reports reports;
  EXPECT_STREQ(pfu_status_to_msg(PFU_STATUS_COUNT), "UNDEFINED STATUS");
  EXPECT_STREQ(pfu_status_to_msg(-1), "UNDEFINED STATUS");
  EXPECT_NE(reports.take().find("pfu_status_to_msg"), std::string::npos);
}

TEST(PfuPath, JoinsParentsAndForms) {
  char out[PFU_PATH_MAX];
  EXPECT_TRUE(pfu_cat_path("|usr|", "lib", out));
  EXPECT_STREQ(out, "|usr|lib");
  EXPECT_TRUE(pfu_cat_path("|usr", "lib", out));
  EXPECT_STREQ(out, "|usr|lib");
  EXPECT_TRUE(pfu_cat_path("", "lib", out));
  EXPECT_STREQ(out, "lib");
  EXPECT_TRUE(pfu_cat_path("c:\\", "", out));
  EXPECT_STREQ(out, "c:\\");
  // 255 characters with the separator fit; one more is refused with an empty result.
  const std::string a(127, 'a'), b(127, 'b');
  EXPECT_TRUE(pfu_cat_path(a.c_str(), b.c_str(), out));
  EXPECT_EQ(strlen(out), 255u);
  EXPECT_FALSE(pfu_cat_path(a.c_str(), (b + "b").c_str(), out));
  EXPECT_STREQ(out, "");
  const std::string huge(1000, 'h');
  EXPECT_FALSE(pfu_cat_path(huge.c_str(), huge.c_str(), out));

  char child[64] = "|usr|lib|x", parent[64] = "|usr", rest[64];
  EXPECT_TRUE(pfu_is_parent_path(child, parent, rest));
  EXPECT_STREQ(rest, "lib|x");
  char child2[64] = "|usrx";
  EXPECT_FALSE(pfu_is_parent_path(child2, parent, rest));
  char child3[64] = "/usr/lib/", parent3[64] = "\\usr\\";
  EXPECT_TRUE(pfu_is_parent_path(child3, parent3, rest));
  EXPECT_STREQ(rest, "lib");
  char empty[4] = "";
  EXPECT_TRUE(pfu_is_parent_path(child3, empty, rest));
  EXPECT_STREQ(rest, "usr|lib");
  {
    Reports reports;
    EXPECT_FALSE(pfu_is_parent_path(empty, parent, rest));
    EXPECT_NE(reports.take().find("child path cannot be empty."), std::string::npos);
    char drive[16] = "d:rel";
    EXPECT_TRUE(pfu_abs_path(drive));
    EXPECT_NE(reports.take().find("'d:rel_path' are not recognized."), std::string::npos);
  }

  char path[64] = "a/b\\c/";
  EXPECT_TRUE(pfu_path_normalize(path));
  EXPECT_STREQ(path, "a|b|c");
  char blank[64] = "a/b c/d";
  EXPECT_FALSE(pfu_path_normalize(blank));
  EXPECT_STREQ(blank, "a|b c/d");
  char root[4] = "|";
  EXPECT_TRUE(pfu_path_normalize(root));
  EXPECT_STREQ(root, "");
  char native[64] = "a|b/c\\d";
  pfu_path_to_native(native, PFU_Slash_Form);
  EXPECT_STREQ(native, "a/b/c\\d");
  pfu_path_convert_separators(native, PFU_Backslash_Form);
  EXPECT_STREQ(native, "a\\b\\c\\d");
  pfu_path_convert_separators(native, PFU_Slash_Form);
  EXPECT_STREQ(native, "a/b/c/d");
  EXPECT_STREQ(pfu_path_tail("a|b/c\\d"), "d");
  EXPECT_STREQ(pfu_path_tail("plain"), "plain");
  EXPECT_EQ(pfu_path_tail(""), nullptr);
  char abs1[16] = "|x", abs2[16] = "C:\\x", rel[16] = "x|y";
  EXPECT_TRUE(pfu_abs_path(abs1));
  EXPECT_TRUE(pfu_abs_path(abs2));
  EXPECT_STREQ(abs2, "C:|x");
  EXPECT_FALSE(pfu_abs_path(rel));

  char cwd[PFU_PATH_MAX], full[PFU_PATH_MAX];
  ASSERT_EQ(pfu_getcwd(cwd), PFU_SUCCESS);
  EXPECT_TRUE(pfu_abs_path(cwd));
  ASSERT_EQ(pfu_full_path("sub/f.txt", full), PFU_SUCCESS);
  EXPECT_EQ(std::string(full), std::string(cwd) + "|sub|f.txt");
  ASSERT_EQ(pfu_full_path("/abs/f", full), PFU_SUCCESS);
  EXPECT_STREQ(full, "|abs|f");
  EXPECT_EQ(pfu_full_path(std::string(300, 'p').c_str(), full), PFU_NAME_TOO_LONG);
  EXPECT_STREQ(full, "");
}

// A file of 3 GiB, sparse where the file system allows it, read past 2 GiB and appended. The
// positions beyond a long are reached relative to one; pfu_ftell there says it cannot answer.
TEST(PfuLarge, FileBeyondTwoGiBIsReadAndAppended) {
  constexpr int64_t kSize = int64_t(3) << 30, kMarker = int64_t(5) << 29;  // 3 and 2.5 GiB
  platform_fh handle = PF_NULL_Handle;
  ASSERT_TRUE(
      platform_file_open("large.bin", PLATFORM_FILE_WRITE, PLATFORM_CREATE_ALWAYS, &handle));
  int written = 0;
  const bool made = platform_file_seek(handle, kMarker, PLATFORM_SEEK_SET, nullptr) &&
                    platform_file_write(handle, "marker", 6, &written) &&
                    platform_file_truncate(handle, kSize);
  const std::string why = made ? "" : strerror(errno);
  platform_file_close(handle);
  struct Remove {
    ~Remove() { platform_path_remove("large.bin"); }
  } remove_after;
  if (!made) GTEST_SKIP() << "the file system here cannot hold a file of 3 GiB: " << why;

  PF_File_Ptr file = open_file("large.bin", 3, PFU_Binary, 64);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(pfu_fseek(file, LONG_MAX, PFU_SEEK_SET), PFU_SUCCESS);
  ASSERT_EQ(pfu_fseek(file, (long)(kMarker - LONG_MAX), PFU_SEEK_CUR), PFU_SUCCESS);
  char buffer[8] = {};
  int got = 0;
  EXPECT_EQ(pfu_fread(file, 6, &got, buffer), PFU_SUCCESS);
  EXPECT_EQ(std::string(buffer, (size_t)got), "marker");
  EXPECT_EQ(pfu_ftell(file), -1);
  EXPECT_EQ(pfu_errno_status(), PFU_TOO_BIG);
  pfu_fclose(&file);

  file = open_file("large.bin", 11, PFU_Binary, 64);  // positioned at the end
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(pfu_fputs(file, "tail"), PFU_SUCCESS);
  EXPECT_EQ(pfu_fclose(&file), PFU_SUCCESS);
  file = open_file("large.bin", 1, PFU_Binary, 64);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(pfu_fseek(file, -4, PFU_SEEK_END), PFU_SUCCESS);
  EXPECT_EQ(pfu_fread(file, 8, &got, buffer), PFU_SUCCESS);
  EXPECT_EQ(std::string(buffer, (size_t)got), "tail");
  int64_t end = 0;
  EXPECT_TRUE(platform_file_seek(file->handle, 0, PLATFORM_SEEK_END, &end));
  EXPECT_EQ(end, kSize + 4);
  pfu_fclose(&file);
}
