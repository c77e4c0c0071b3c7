#include "brenlo/compressed.hpp"

#include <stdexcept>
#include <zlib.h>

namespace brenlo::io {

Compression compressionOf(const char* bytes, size_t n) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    if (n >= 2 && b[0] == 0x1f && b[1] == 0x8b)
        return Compression::GZIP;
    if (n >= 4 && b[0] == 0x28 && b[1] == 0xb5 && b[2] == 0x2f && b[3] == 0xfd)
        return Compression::ZSTD;
    return Compression::NONE;
}

std::string unreadableCompression(Compression c) {
    if (c == Compression::ZSTD)
        return "This file is compressed with zstd, which is not read here; unpack it first "
               "(zstd -d) or compress it with gzip.";
    return "";
}

struct GzipDecoder::State {
    z_stream z{};
    bool inMember = false; // a member's header has been met and its end not yet
};

GzipDecoder::GzipDecoder() : m(new State) {
    // 16 + MAX_WBITS: a gzip wrapper, not zlib's own.
    if (inflateInit2(&m->z, 16 + MAX_WBITS) != Z_OK)
        throw DecodeError("Cannot start the gzip decoder.");
}

GzipDecoder::~GzipDecoder() {
    inflateEnd(&m->z);
}

bool GzipDecoder::atMemberEnd() const {
    return !m->inMember;
}

void GzipDecoder::cutShort() {
    throw DecodeError("Cannot read: the gzip data ends early: the file was cut short.");
}

size_t GzipDecoder::decode(const char*& in, size_t& inLeft, char* out, size_t outLen) {
    z_stream& z = m->z;
    size_t written = 0;
    while (inLeft > 0 && written < outLen) {
        if (!m->inMember && inflateReset(&z) != Z_OK)
            throw DecodeError("Cannot read: the gzip data is corrupt.");
        m->inMember = true;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
        z.avail_in = static_cast<uInt>(std::min<size_t>(inLeft, 1u << 30));
        z.next_out = reinterpret_cast<Bytef*>(out + written);
        z.avail_out = static_cast<uInt>(std::min<size_t>(outLen - written, 1u << 30));
        const uInt inBefore = z.avail_in, outBefore = z.avail_out;
        const int rc = inflate(&z, Z_NO_FLUSH);
        in += inBefore - z.avail_in;
        inLeft -= inBefore - z.avail_in;
        written += outBefore - z.avail_out;
        if (rc == Z_STREAM_END) {
            m->inMember = false;
            continue;
        }
        if (rc == Z_BUF_ERROR)
            break; // needs more input or more room
        if (rc != Z_OK)
            throw DecodeError(std::string("Cannot read: the gzip data is corrupt (") +
                              (z.msg ? z.msg : "inflate failed") + ").");
    }
    return written;
}

DecodingBuf::DecodingBuf(std::streambuf* source) : m_source(source) {}
DecodingBuf::~DecodingBuf() = default;

DecodingBuf::int_type DecodingBuf::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    const size_t BLOCK = 1 << 16;
    auto refill = [&] {
        m_raw.erase(0, m_rawAt);
        m_rawAt = 0;
        const size_t had = m_raw.size();
        m_raw.resize(had + BLOCK);
        const std::streamsize got = m_source->sgetn(&m_raw[had], BLOCK);
        m_raw.resize(had + static_cast<size_t>(got > 0 ? got : 0));
        return got > 0;
    };
    if (!m_sniffed) {
        // Enough bytes to tell the magic, however the source hands them out.
        bool more = true;
        while (m_raw.size() < 4 && more)
            more = refill();
        m_sniffed = true;
        const Compression c = compressionOf(m_raw.data(), m_raw.size());
        if (!unreadableCompression(c).empty())
            throw DecodeError(unreadableCompression(c));
        if (c == Compression::GZIP)
            m_gzip.reset(new GzipDecoder);
    }
    m_out.resize(BLOCK);
    size_t made = 0;
    while (made == 0) {
        if (m_rawAt == m_raw.size() && !refill()) {
            if (m_gzip && !m_gzip->atMemberEnd())
                GzipDecoder::cutShort();
            return traits_type::eof();
        }
        if (!m_gzip) {
            made = m_raw.size() - m_rawAt;
            m_out.assign(m_raw, m_rawAt, made);
            m_rawAt = m_raw.size();
            break;
        }
        const char* in = m_raw.data() + m_rawAt;
        size_t left = m_raw.size() - m_rawAt;
        made = m_gzip->decode(in, left, &m_out[0], m_out.size());
        m_rawAt = m_raw.size() - left;
    }
    setg(&m_out[0], &m_out[0], &m_out[0] + made);
    return traits_type::to_int_type(*gptr());
}

} // namespace brenlo::io
