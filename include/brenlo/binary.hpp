// Fixed-width integers, raw floats and length-prefixed or NUL-terminated
// strings over any Device, in either byte order.
#pragma once

#include "brenlo/io.hpp"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace brenlo {

uint16_t swap16(uint16_t v);
uint32_t swap32(uint32_t v);
uint64_t swap64(uint64_t v);
void cswap(char* buf, size_t len);

/// `v` from byte order `from` to `to`; raises UnsupportedOperationException
/// "Can't handle endian." for a pair that is not little and big.
uint16_t endianConvert16(uint16_t v, Endianness from, Endianness to);
uint32_t endianConvert32(uint32_t v, Endianness from, Endianness to);
uint64_t endianConvert64(uint64_t v, Endianness from, Endianness to);
uint16_t toHostEndian16(uint16_t v, Endianness from);
uint32_t toHostEndian32(uint32_t v, Endianness from);
uint64_t toHostEndian64(uint64_t v, Endianness from);

} // namespace brenlo

namespace brenlo::io {

class BinaryStream {
public:
    BinaryStream(Device* device, Endianness e);
    BinaryStream(Device& device, Endianness e);
    virtual ~BinaryStream() {}

    mem::Pointer<Device> handle() const { return m_device; }
    Endianness endian() const { return m_endian; }
    void endian(Endianness e) { m_endian = e; }

protected:
    mem::Pointer<Device> m_device;
    Endianness m_endian;
};

/// Reads in the stream's byte order. A value cut short by the end of the
/// data raises IOException rather than coming back zero-filled.
class BinaryReader : public BinaryStream {
public:
    BinaryReader(Device* device, Endianness e);
    BinaryReader(Device& device, Endianness e);
    BinaryReader(std::istream& src, Endianness e);
    BinaryReader(std::iostream& src, Endianness e);
    BinaryReader(void* buf, size_t len, Endianness e);
    static BinaryReader fromFile(const std::string& path, int openFlags);

    size_t read(char* buf, size_t len);
    void seek(device_offset_t offset, SeekWhence whence);
    device_position_t tell();

    int8_t readSI8();
    uint8_t readUI8();
    int16_t readSI16();
    uint16_t readUI16();
    int32_t readSI32();
    uint32_t readUI32();
    int64_t readSI64();
    uint64_t readUI64();
    float readFloat();
    double readDouble();
    std::string readPStr8();
    std::string readPStr16();
    std::string readPStr32();
    std::string readPStr64();
    std::string readNTS();

private:
    /// A value of T in the stream's byte order; `what` names it in errors.
    template <class T> T m_readOrdered(const char* what);
    void m_readExactly(void* dest, size_t len, const char* what);
    std::string m_readBody(uint64_t len, const char* name);
};

class BinaryWriter : public BinaryStream {
public:
    BinaryWriter(Device* device, Endianness e);
    BinaryWriter(Device& device, Endianness e);
    BinaryWriter(std::ostream& dest, Endianness e);
    BinaryWriter(std::iostream& dest, Endianness e);
    BinaryWriter(void* buf, size_t len, Endianness e);
    static BinaryWriter fromFile(const std::string& path, int openFlags);

    size_t write(const char* buf, size_t len);
    void seek(device_offset_t offset, SeekWhence whence);
    device_position_t tell();

    size_t writeSI8(int8_t v);
    size_t writeUI8(uint8_t v);
    size_t writeSI16(int16_t v);
    size_t writeUI16(uint16_t v);
    size_t writeSI32(int32_t v);
    size_t writeUI32(uint32_t v);
    size_t writeSI64(int64_t v);
    size_t writeUI64(uint64_t v);
    size_t writeFloat(float v);
    size_t writeDouble(double v);
    size_t writePStr8(const std::string& s, size_t off = 0, size_t len = SIZE_MAX);
    size_t writePStr16(const std::string& s, size_t off = 0, size_t len = SIZE_MAX);
    size_t writePStr32(const std::string& s, size_t off = 0, size_t len = SIZE_MAX);
    size_t writePStr64(const std::string& s, size_t off = 0, size_t len = SIZE_MAX);
    size_t writeNTS(const std::string& s, size_t off = 0, size_t len = SIZE_MAX);

private:
    /// Writes a value of T in the stream's byte order.
    template <class T> size_t m_writeOrdered(T v);
    size_t m_body(const std::string& s, size_t off, size_t len);
};

} // namespace brenlo::io
