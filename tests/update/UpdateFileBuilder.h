#pragma once
// Builds update files byte by byte in memory, and streams to load them from.

#include <algorithm>
#include <cstdint>
#include <ios>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "Update.h"

using ByteVector = std::vector<std::uint8_t>;

inline ByteVector ToBytes(const std::string& text) { return ByteVector(text.begin(), text.end()); }

// Appends the primitives of the format, little-endian.
class FileBytes {
public:
    FileBytes& Raw(const std::string& bytes) {
        text += bytes;
        return *this;
    }
    FileBytes& Raw(const ByteVector& bytes) {
        text.append(bytes.begin(), bytes.end());
        return *this;
    }
    FileBytes& U16(std::uint16_t value) {
        text.push_back(static_cast<char>(value & 0xFF));
        text.push_back(static_cast<char>(value >> 8));
        return *this;
    }
    FileBytes& U32(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) text.push_back(static_cast<char>((value >> shift) & 0xFF));
        return *this;
    }
    FileBytes& String(const std::string& bytes) { return U32(static_cast<std::uint32_t>(bytes.size())).Raw(bytes); }

    // Records.
    FileBytes& Portion(const ByteVector& data, std::uint32_t delay) {
        return U32(1).U32(static_cast<std::uint32_t>(data.size())).Raw(data).U32(delay);
    }
    FileBytes& Image(const ByteVector& data) { return U32(2).U32(static_cast<std::uint32_t>(data.size())).Raw(data); }
    FileBytes& Settings(const std::string& record) { return U32(3).String(record); }
    FileBytes& MacNames(const std::string& list) { return U32(5).String(list); }

    const std::string& Str() const { return text; }
    std::size_t Size() const { return text.size(); }

private:
    std::string text;
};

// A complete header: magic, format 4, product, version, message and the reserved words.
inline FileBytes Header(const std::string& product = "ABC", std::uint16_t major = 1, std::uint16_t minor = 5,
                        const std::string& message = "") {
    FileBytes bytes;
    bytes.Raw("ZellUpdateFile").U16(4).String(product).U16(major).U16(minor).String(message).U16(0).U16(0).U16(0);
    return bytes;
}

inline std::stringstream BinaryStream(const std::string& bytes) {
    return std::stringstream(bytes, std::ios::in | std::ios::out | std::ios::binary);
}

inline Update Load(const std::string& bytes) {
    std::stringstream stream = BinaryStream(bytes);
    return Update(stream);
}

// The text of the ParseError that loading throws, or "<loaded>" when it loads.
inline std::string LoadError(const std::string& bytes) {
    try {
        Load(bytes);
        return "<loaded>";
    } catch (const ParseError& error) {
        return error.what();
    }
}

// A read-only stream buffer over fixed bytes that can behave like a pipe (no seeking) or like a
// file that shrinks while it is read (its end lies beyond the bytes it delivers).
class ScriptedStreamBuf : public std::streambuf {
public:
    explicit ScriptedStreamBuf(std::string bytes, bool seekable = true, std::streamoff claimedSize = -1)
        : bytes(std::move(bytes)), seekable(seekable) {
        this->claimedSize = claimedSize < 0 ? static_cast<std::streamoff>(this->bytes.size()) : claimedSize;
        char* begin = &this->bytes[0];
        setg(begin, begin, begin + this->bytes.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode which) override {
        if (!seekable || !(which & std::ios_base::in)) return pos_type(off_type(-1));
        const off_type base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::cur ? Position() : claimedSize;
        const off_type target = base + offset;
        if (target < 0) return pos_type(off_type(-1));
        // Past the real bytes the buffer sits at their end but remembers where it was sent.
        const off_type real = std::min<off_type>(target, static_cast<off_type>(bytes.size()));
        setg(eback(), eback() + real, egptr());
        beyond = target > real ? target : -1;
        return pos_type(target);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }

private:
    off_type Position() const { return beyond >= 0 && gptr() == egptr() ? beyond : gptr() - eback(); }

    std::string bytes;
    bool seekable;
    std::streamoff claimedSize;
    std::streamoff beyond = -1;
};
