#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include <QStringList>

// The last lines a child printed on its output and error streams, for telling
// the user why an encode failed. Chunks arrive as the runner reads them (any
// size, cut anywhere); lines end at "\r" or "\n" and are split per stream, so a
// line cut across chunks comes out whole. Progress records ("Pos:" lines) and
// blank lines are left out. At most MaxLines lines and MaxBytes bytes are kept,
// the oldest dropped first; a line longer than MaxLineBytes keeps its start.
// Costs one scan of each chunk and no allocation for progress records.
// Not thread-safe: the caller serialises Append and TakeLines.
class COutputTail final
{
public:
    static constexpr std::size_t MaxLines = 40;
    static constexpr std::size_t MaxBytes = 8192;
    static constexpr std::size_t MaxLineBytes = 1024;

    enum class Stream
    {
        Out,
        Err
    };

    void Append(Stream stream, std::string_view chunk);

    // Ends the unfinished line of each stream, returns every kept line, oldest
    // first, decoded as UTF-8 (bytes that are not UTF-8 become U+FFFD) without
    // trailing white space, and empties the tail.
    QStringList TakeLines();

    // Forgets everything, unfinished lines included.
    void Clear();

private:
    struct PartialLine
    {
        std::string text;
        bool checked = false;  // the first bytes were compared with "Pos:"
        bool progress = false; // the line is a "Pos:" record: dropped
        bool cut = false;      // bytes beyond MaxLineBytes were dropped
    };

    void AddToLine(PartialLine& line, std::string_view piece);
    void EndLine(PartialLine& line);

    PartialLine m_partial[2];
    std::deque<std::string> m_lines;
    std::size_t m_bytes = 0;
};
