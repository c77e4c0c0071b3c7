#include "brenlo/io.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace brenlo;
using namespace brenlo::io;

namespace {

TextReader stringReader(const std::string& s, int accept = TextStream::NL_DEFAULT) {
    return TextReader(Device::wrapString(s, 0, std::string::npos), accept);
}

std::string readAll(TextReader& r) {
    std::string out;
    for (int c; (c = r.read()) != -1;)
        out += static_cast<char>(c);
    return out;
}

} // namespace

TEST(TextReader, FoldsEveryKindOfLineEnd) {
    for (const char* text : {"a\r\nb", "a\n\rb", "a\rb", "a\nb"}) {
        TextReader r = stringReader(text);
        EXPECT_EQ(readAll(r), "a\nb") << text;
        EXPECT_EQ(r.row(), 1u);
    }
    TextReader twice = stringReader("a\n\nb");
    EXPECT_EQ(readAll(twice), "a\n\nb");
    TextReader lfOnly = stringReader("a\rb", TextStream::NL_LF);
    EXPECT_EQ(readAll(lfOnly), "a\rb");
    EXPECT_EQ(lfOnly.row(), 0u);
    EXPECT_EQ(lfOnly.col(), 3u);
}

TEST(TextReader, PeekReadAndLines) {
    TextReader r = stringReader("x\r\ny");
    EXPECT_EQ(r.peek(), 'x');
    EXPECT_EQ(r.read(), 'x');
    EXPECT_EQ(r.peek(), '\r');
    EXPECT_EQ(r.read(), '\n');
    EXPECT_EQ(r.row(), 1u);
    EXPECT_EQ(r.read(), 'y');
    EXPECT_EQ(r.peek(), -1);
    EXPECT_EQ(r.read(), -1);

    TextReader lines = stringReader("ab\ncd");
    EXPECT_EQ(lines.readLine(), "ab");
    EXPECT_EQ(lines.readLine(), "cd");
    EXPECT_EQ(lines.readLine(), "");
}

TEST(TextReader, HighBytesAreData) {
    TextReader r = stringReader("a\xff"
                                "b\x80");
    EXPECT_EQ(r.read(), 'a');
    EXPECT_EQ(r.read(), 0xFF);
    EXPECT_EQ(r.read(), 'b');
    EXPECT_EQ(r.read(), 0x80);
    EXPECT_EQ(r.read(), -1);
    std::istringstream in("\xff\xfe");
    TextReader s(in, TextStream::NL_DEFAULT);
    EXPECT_EQ(s.read(), 0xFF);
    EXPECT_EQ(s.read(), 0xFE);
    EXPECT_EQ(s.read(), -1);
}

TEST(TextReader, BlockReadFoldsInPlace) {
    TextReader r = stringReader("a\r\nb");
    char buf[16];
    EXPECT_EQ(r.read(buf, sizeof buf), 3u);
    EXPECT_EQ(std::string(buf, 3), "a\nb");
    EXPECT_EQ(r.row(), 1u);
    // A stream that ends part-way still hands over what it read.
    std::istringstream in("hello");
    TextReader s(in, TextStream::NL_DEFAULT);
    EXPECT_EQ(s.read(buf, sizeof buf), 5u);
    EXPECT_EQ(s.read(buf, sizeof buf), 0u);
}

TEST(TextWriter, CountersAndNumbers) {
    std::ostringstream out;
    TextWriter w(out);
    EXPECT_EQ(w.write(std::string("a\nb")), 3u);
    EXPECT_EQ(w.row(), 1u);
    EXPECT_EQ(w.col(), 1u);
    w.writeFloat(0.25);
    w.write(' ');
    w.writeFloat(1000);
    w.writeLine();
    w.write(std::string("abcdefgh"), 2, 3);
    w.write(std::string("abcdefgh"), 6, 5);
    w.writeLine("!");
    w.writeSInt(-3);
    w.writeUInt(-1);
    w.writeBool(true);
    w.writeSizeT(12);
    EXPECT_EQ(out.str(), "a\nb0.250000 1000.000000\ncdegh!\n-34294967295true12");
    EXPECT_EQ(w.row(), 3u);
}

TEST(Devices, ArrayAndStringBounds) {
    char block[4];
    Device* d = Device::wrapArray(block, 4, OPEN_READ_WRITE);
    for (int k = 0; k < 4; ++k)
        EXPECT_TRUE(d->write('a'));
    EXPECT_FALSE(d->write('a'));
    delete d;
    d = Device::wrapArray(block, 4, OPEN_WRITE);
    EXPECT_EQ(d->write("123456", 6), 4u);
    EXPECT_EQ(std::string(block, 4), "1234");
    EXPECT_TRUE(d->canWrite());
    EXPECT_FALSE(d->canRead());
    delete d;
    d = Device::wrapArray(block, 4, OPEN_READ);
    char buf[8];
    EXPECT_EQ(d->read(buf, 8), 4u);
    EXPECT_EQ(d->read(), -1);
    EXPECT_EQ(d->tellg(), 4);
    delete d;

    d = Device::wrapString("hello", 1, 3);
    EXPECT_EQ(d->read(buf, 8), 3u);
    EXPECT_EQ(std::string(buf, 3), "ell");
    EXPECT_EQ(d->read(buf, 8), 0u);
    EXPECT_FALSE(d->write('x'));
    delete d;
    EXPECT_THROW(Device::wrapString("abc", 9, 1), std::out_of_range);
}

TEST(Devices, StreamWrapsSeekWhereTheyCan) {
    std::ostringstream out;
    Device* d = Device::wrap(out);
    EXPECT_EQ(d->write("abc", 3), 3u);
    d->seekp(1, WHENCE_SET);
    d->write('X');
    EXPECT_EQ(out.str(), "aXc");
    try {
        d->seekg(0, WHENCE_SET);
        FAIL() << "no exception";
    } catch (const UnsupportedOperationException& e) {
        EXPECT_STREQ(e.what(), "Stream incapable of seekg");
    }
    EXPECT_THROW(d->tellg(), UnsupportedOperationException);
    EXPECT_EQ(d->read(), -1);
    delete d;
    std::istringstream in("xyz");
    d = Device::wrap(in);
    EXPECT_EQ(d->seekCapability(), 1);
    EXPECT_THROW(d->seekp(0, WHENCE_SET), UnsupportedOperationException);
    d->seekg(-1, WHENCE_END);
    EXPECT_EQ(d->read(), 'z');
    delete d;
    d = Device::wrap(new std::stringstream("owned"));
    EXPECT_EQ(d->read(), 'o');
    delete d; // deletes the stream too
}

TEST(Devices, FilesOpenOrSayWhyNot) {
    testsupport::TempDir dir;
    try {
        Device::fromFile(dir.file("missing/x"), OPEN_READ);
        FAIL() << "no exception";
    } catch (const IOException& e) {
        EXPECT_EQ(e.why(),
                  "Cannot open \"" + dir.file("missing/x") + "\": No such file or directory");
    }
    {
        TextWriter w = TextWriter::fromFile(dir.file("f.txt"), 0);
        w.writeLine("line");
    }
    EXPECT_EQ(testsupport::readFile(dir.file("f.txt")), "line\n");
    {
        Device* rw = Device::fromFile(dir.file("f.txt"), OPEN_READ_WRITE);
        EXPECT_EQ(rw->read(), 'l');
        rw->seekp(0, WHENCE_SET);
        EXPECT_TRUE(rw->write('L'));
        delete rw;
    }
    TextReader r = TextReader::fromFile(dir.file("f.txt"), 0);
    EXPECT_EQ(r.readLine(), "Line");
    try {
        Device::fromFile(dir.path(), OPEN_READ);
        FAIL() << "a folder opened as a file";
    } catch (const IOException& e) {
        EXPECT_EQ(e.why(), "Cannot open \"" + dir.path() + "\": Is a directory");
    }
}

TEST(TextReader, CopiesShareTheirDevicesBytes) {
    TextReader first(Device::wrapString("abc", 0, std::string::npos), TextStream::NL_DEFAULT);
    TextReader copy = first;
    EXPECT_EQ(first.read(), 'a');
    EXPECT_EQ(copy.read(), 'b');
    EXPECT_EQ(first.read(), 'c');
    EXPECT_EQ(copy.read(), -1);
    // Look-ahead stays each reader's own.
    TextReader one(Device::wrapString("xyz", 0, std::string::npos), TextStream::NL_DEFAULT);
    TextReader two = one;
    EXPECT_EQ(one.peek(), 'x');
    EXPECT_EQ(two.read(), 'y');
    EXPECT_EQ(one.read(), 'x');
    EXPECT_EQ(one.read(), 'z');
}
