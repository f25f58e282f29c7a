// ChunkedList: the store of a series' samples. It grows at the back and
// gives up elements at the front, in chunks of 2^ChunkShift elements, and
// reaches any element by a shift and a mask: the window queries of the
// plots read it by index, many times per picture, and a std::deque spends
// more on each such look-up than on what is done with the element.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

template<class T, int ChunkShift>
class ChunkedList
{
public:
    static constexpr std::size_t ChunkSize = std::size_t(1) << ChunkShift;

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

    const T &operator[](std::size_t i) const { return at(i + m_head); }
    T &operator[](std::size_t i) { return const_cast<T &>(at(i + m_head)); }
    const T &back() const { return (*this)[m_size - 1]; }
    T &back() { return (*this)[m_size - 1]; }

    void push_back(const T &value)
    {
        const std::size_t k = m_head + m_size;
        if ((k >> ChunkShift) == m_chunks.size())
            m_chunks.emplace_back(new T[ChunkSize]);
        const_cast<T &>(at(k)) = value;
        ++m_size;
    }
    void pop_front()
    {
        --m_size;
        if (++m_head == ChunkSize) {
            // The chunk pointers are few (about a thousand for a million
            // samples), and this happens once a chunk: moving them is
            // cheaper than any other bookkeeping.
            m_chunks.erase(m_chunks.begin());
            m_head = 0;
        }
    }
    void clear()
    {
        m_chunks.clear();
        m_head = 0;
        m_size = 0;
    }

private:
    const T &at(std::size_t k) const { return m_chunks[k >> ChunkShift][k & (ChunkSize - 1)]; }

    std::vector<std::unique_ptr<T[]>> m_chunks;
    std::size_t m_head = 0;   // the first element's place in the first chunk
    std::size_t m_size = 0;
};
