#include "brenlo/binary.hpp"
#include "brenlo/string.hpp"

#include <cstring>
#include <limits>

namespace brenlo {

uint16_t swap16(uint16_t v) {
    return static_cast<uint16_t>((v >> 8) | (v << 8));
}
uint32_t swap32(uint32_t v) {
    return __builtin_bswap32(v);
}
uint64_t swap64(uint64_t v) {
    return __builtin_bswap64(v);
}

void cswap(char* buf, size_t len) {
    for (size_t i = 0, j = len; i + 1 < j; ++i, --j)
        std::swap(buf[i], buf[j - 1]);
}

static bool mustSwap(Endianness from, Endianness to) {
    if (from == to)
        return false;
    if (static_cast<uint32_t>(from) != swap32(static_cast<uint32_t>(to)))
        throw UnsupportedOperationException("Can't handle endian.");
    return true;
}

uint16_t endianConvert16(uint16_t v, Endianness from, Endianness to) {
    return mustSwap(from, to) ? swap16(v) : v;
}
uint32_t endianConvert32(uint32_t v, Endianness from, Endianness to) {
    return mustSwap(from, to) ? swap32(v) : v;
}
uint64_t endianConvert64(uint64_t v, Endianness from, Endianness to) {
    return mustSwap(from, to) ? swap64(v) : v;
}
uint16_t toHostEndian16(uint16_t v, Endianness from) {
    return endianConvert16(v, from, HOST_ENDIAN);
}
uint32_t toHostEndian32(uint32_t v, Endianness from) {
    return endianConvert32(v, from, HOST_ENDIAN);
}
uint64_t toHostEndian64(uint64_t v, Endianness from) {
    return endianConvert64(v, from, HOST_ENDIAN);
}

} // namespace brenlo

namespace brenlo::io {

namespace {

// The unsigned type of a value's width, for reordering its bytes.
template <size_t N> struct Raw;
template <> struct Raw<2> { typedef uint16_t type; };
template <> struct Raw<4> { typedef uint32_t type; };
template <> struct Raw<8> { typedef uint64_t type; };

uint16_t reorder(uint16_t v, Endianness from, Endianness to) {
    return endianConvert16(v, from, to);
}
uint32_t reorder(uint32_t v, Endianness from, Endianness to) {
    return endianConvert32(v, from, to);
}
uint64_t reorder(uint64_t v, Endianness from, Endianness to) {
    return endianConvert64(v, from, to);
}

} // namespace

BinaryStream::BinaryStream(Device* device, Endianness e) : m_device(device, nullptr), m_endian(e) {}
BinaryStream::BinaryStream(Device& device, Endianness e) : BinaryStream(device.makeProxy(), e) {}

BinaryReader::BinaryReader(Device* device, Endianness e) : BinaryStream(device, e) {}
BinaryReader::BinaryReader(Device& device, Endianness e) : BinaryStream(device, e) {}
BinaryReader::BinaryReader(std::istream& src, Endianness e) : BinaryStream(Device::wrap(src), e) {}
BinaryReader::BinaryReader(std::iostream& src, Endianness e) : BinaryStream(Device::wrap(src), e) {}
BinaryReader::BinaryReader(void* buf, size_t len, Endianness e)
    : BinaryStream(Device::wrapArray(buf, len, OPEN_READ_WRITE), e) {}
BinaryReader BinaryReader::fromFile(const std::string& path, int openFlags) {
    return BinaryReader(Device::fromFile(path, openFlags ? openFlags : OPEN_READ), ENDIAN_LITTLE);
}

size_t BinaryReader::read(char* buf, size_t len) {
    return m_device->read(buf, len);
}
void BinaryReader::seek(device_offset_t offset, SeekWhence whence) {
    m_device->seekg(offset, whence);
}
device_position_t BinaryReader::tell() {
    return m_device->tellg();
}

void BinaryReader::m_readExactly(void* dest, size_t len, const char* what) {
    size_t n = m_device->read(static_cast<char*>(dest), len);
    if (n != len)
        throw IOException(string::strprintf("Can't read %s: the data ends after %lu of %lu bytes",
                                            what,
                                            static_cast<unsigned long>(n == Device::FAILED ? 0 : n),
                                            static_cast<unsigned long>(len)));
}

template <class T> T BinaryReader::m_readOrdered(const char* what) {
    typename Raw<sizeof(T)>::type raw;
    m_readExactly(&raw, sizeof raw, what);
    if (m_endian != HOST_ENDIAN)
        raw = reorder(raw, m_endian, HOST_ENDIAN);
    T v;
    std::memcpy(&v, &raw, sizeof v);
    return v;
}

int16_t BinaryReader::readSI16() {
    return m_readOrdered<int16_t>("int16_t");
}
uint16_t BinaryReader::readUI16() {
    return m_readOrdered<uint16_t>("uint16_t");
}
int32_t BinaryReader::readSI32() {
    return m_readOrdered<int32_t>("int32_t");
}
uint32_t BinaryReader::readUI32() {
    return m_readOrdered<uint32_t>("uint32_t");
}
int64_t BinaryReader::readSI64() {
    return m_readOrdered<int64_t>("int64_t");
}
uint64_t BinaryReader::readUI64() {
    return m_readOrdered<uint64_t>("uint64_t");
}

int8_t BinaryReader::readSI8() {
    int8_t v;
    m_readExactly(&v, 1, "int8_t");
    return v;
}
uint8_t BinaryReader::readUI8() {
    uint8_t v;
    m_readExactly(&v, 1, "uint8_t");
    return v;
}
float BinaryReader::readFloat() {
    float v;
    m_readExactly(&v, sizeof v, "float");
    return v;
}
double BinaryReader::readDouble() {
    double v;
    m_readExactly(&v, sizeof v, "double");
    return v;
}

std::string BinaryReader::m_readBody(uint64_t len, const char* name) {
    if (len == 0)
        return std::string();
    mem::Array<char> buf(static_cast<size_t>(len), mem::MALLOC, nullptr);
    size_t n = m_device->read(buf.pointer(), static_cast<size_t>(len));
    if (n == Device::FAILED)
        throw IOException(std::string("Can't read ") + name);
    return std::string(buf.pointer(), n);
}

std::string BinaryReader::readPStr8() {
    return m_readBody(readUI8(), "PStr8");
}
std::string BinaryReader::readPStr16() {
    return m_readBody(readUI16(), "PStr16");
}
std::string BinaryReader::readPStr32() {
    return m_readBody(readUI32(), "PStr32");
}
std::string BinaryReader::readPStr64() {
    uint64_t len = readUI64();
    // A length beyond what memory can hold is corrupt data, not a request.
    if (len > (uint64_t(1) << 40))
        throw IOException("Can't read PStr64");
    return m_readBody(len, "PStr64");
}

std::string BinaryReader::readNTS() {
    std::string out;
    for (;;) {
        int c = m_device->read();
        if (c == 0 || c == -1)
            return out;
        out += static_cast<char>(c);
    }
}

BinaryWriter::BinaryWriter(Device* device, Endianness e) : BinaryStream(device, e) {}
BinaryWriter::BinaryWriter(Device& device, Endianness e) : BinaryStream(device, e) {}
BinaryWriter::BinaryWriter(std::ostream& dest, Endianness e)
    : BinaryStream(Device::wrap(dest), e) {}
BinaryWriter::BinaryWriter(std::iostream& dest, Endianness e)
    : BinaryStream(Device::wrap(dest), e) {}
BinaryWriter::BinaryWriter(void* buf, size_t len, Endianness e)
    : BinaryStream(Device::wrapArray(buf, len, OPEN_READ_WRITE), e) {}
BinaryWriter BinaryWriter::fromFile(const std::string& path, int openFlags) {
    return BinaryWriter(Device::fromFile(path, openFlags ? openFlags : OPEN_WRITE), ENDIAN_LITTLE);
}

size_t BinaryWriter::write(const char* buf, size_t len) {
    return m_device->write(buf, len);
}
void BinaryWriter::seek(device_offset_t offset, SeekWhence whence) {
    m_device->seekp(offset, whence);
}
device_position_t BinaryWriter::tell() {
    return m_device->tellp();
}

template <class T> size_t BinaryWriter::m_writeOrdered(T v) {
    typename Raw<sizeof(T)>::type raw;
    std::memcpy(&raw, &v, sizeof raw);
    if (m_endian != HOST_ENDIAN)
        raw = reorder(raw, HOST_ENDIAN, m_endian);
    return m_device->write(reinterpret_cast<const char*>(&raw), sizeof raw);
}

size_t BinaryWriter::writeSI16(int16_t v) {
    return m_writeOrdered(v);
}
size_t BinaryWriter::writeUI16(uint16_t v) {
    return m_writeOrdered(v);
}
size_t BinaryWriter::writeSI32(int32_t v) {
    return m_writeOrdered(v);
}
size_t BinaryWriter::writeUI32(uint32_t v) {
    return m_writeOrdered(v);
}
size_t BinaryWriter::writeSI64(int64_t v) {
    return m_writeOrdered(v);
}
size_t BinaryWriter::writeUI64(uint64_t v) {
    return m_writeOrdered(v);
}

size_t BinaryWriter::writeSI8(int8_t v) {
    return m_device->write(reinterpret_cast<const char*>(&v), 1);
}
size_t BinaryWriter::writeUI8(uint8_t v) {
    return m_device->write(reinterpret_cast<const char*>(&v), 1);
}
size_t BinaryWriter::writeFloat(float v) {
    return m_device->write(reinterpret_cast<const char*>(&v), sizeof v);
}
size_t BinaryWriter::writeDouble(double v) {
    return m_device->write(reinterpret_cast<const char*>(&v), sizeof v);
}

size_t BinaryWriter::m_body(const std::string& s, size_t off, size_t len) {
    return len ? m_device->write(s.data() + off, len) : 0;
}

size_t BinaryWriter::writePStr8(const std::string& s, size_t off, size_t len) {
    len = mem::makeInBounds(off, len, s.size());
    if (len > 0xFF)
        throw IOException("String too large to fit in a PStr8");
    return writeUI8(static_cast<uint8_t>(len)) + m_body(s, off, len);
}
size_t BinaryWriter::writePStr16(const std::string& s, size_t off, size_t len) {
    len = mem::makeInBounds(off, len, s.size());
    if (len > 0xFFFF)
        throw IOException("String too large to fit in a PStr16");
    return writeUI16(static_cast<uint16_t>(len)) + m_body(s, off, len);
}
size_t BinaryWriter::writePStr32(const std::string& s, size_t off, size_t len) {
    len = mem::makeInBounds(off, len, s.size());
    if (len > 0xFFFFFFFFu)
        throw IOException("String too large to fit in a PStr32");
    return writeUI32(static_cast<uint32_t>(len)) + m_body(s, off, len);
}
size_t BinaryWriter::writePStr64(const std::string& s, size_t off, size_t len) {
    len = mem::makeInBounds(off, len, s.size());
    return writeUI64(static_cast<uint64_t>(len)) + m_body(s, off, len);
}
size_t BinaryWriter::writeNTS(const std::string& s, size_t off, size_t len) {
    len = mem::makeInBounds(off, len, s.size());
    return m_body(s, off, len) + writeUI8(0);
}

} // namespace brenlo::io
