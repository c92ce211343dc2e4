// MD5 message digest (RFC 1321), fed incrementally. digest() may be taken in
// the middle of a stream: more data may follow it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class MD5 {
public:
    MD5();
    MD5(const void* data, size_t len);

    void reset();
    void update(const void* data, size_t len);
    void update(const unsigned char* data, size_t len);
    const unsigned char* digest();
    std::string toString();
    static std::string bytesToHexString(const unsigned char* data, size_t len);

    static const unsigned char PADDING[64];
    static const char HEX[16];

private:
    void final();
    void transform(const unsigned char block[64]);
    static void encode(const uint32_t* input, unsigned char* output, size_t length);
    static void decode(const unsigned char* input, uint32_t* output, size_t length);

    uint32_t _state[4];
    uint32_t _count[2];
    unsigned char _buffer[64];
    unsigned char _digest[16];
    bool _finished;
};
