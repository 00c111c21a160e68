#pragma once
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Takes a fuzzer's bytes apart: numbers from the front, zero once they run out.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    uint16_t word() { return uint16_t(byte() << 8 | byte()); }
    QByteArray bytes(size_t n) {
        n = n < left() ? n : left();
        QByteArray b(reinterpret_cast<const char *>(m_data + m_at), qsizetype(n));
        m_at += n;
        return b;
    }
    QByteArray rest() { return bytes(left()); }
    size_t left() const { return m_size - m_at; }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

// A broken promise: the fuzzer keeps the input that caused it.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond);       \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
