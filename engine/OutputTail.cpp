#include "OutputTail.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::string_view ProgressPrefix = "Pos:";
// Put after a line whose end was dropped.
constexpr std::string_view CutMark = " [...]";

bool IsLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

} // namespace

void COutputTail::Append(Stream stream, std::string_view chunk)
{
    PartialLine& line = m_partial[stream == Stream::Out ? 0 : 1];
    while (!chunk.empty()) {
        const auto end = std::find_if(chunk.begin(), chunk.end(), IsLineEnd);
        const std::size_t length = static_cast<std::size_t>(end - chunk.begin());
        AddToLine(line, chunk.substr(0, length));
        if (end == chunk.end())
            return;
        EndLine(line);
        chunk.remove_prefix(length + 1);
    }
}

void COutputTail::AddToLine(PartialLine& line, std::string_view piece)
{
    if (line.progress || piece.empty())
        return;
    // Whether the line is a progress record is decided as soon as its first four
    // bytes are known, before they are copied: most lines are records.
    const std::size_t known = line.text.size();
    if (!line.checked && known + piece.size() >= ProgressPrefix.size()) {
        line.checked = true;
        line.progress =
            std::string_view(line.text) == ProgressPrefix.substr(0, known) &&
            piece.substr(0, ProgressPrefix.size() - known) == ProgressPrefix.substr(known);
        if (line.progress) {
            line.text.clear();
            return;
        }
    }
    const std::size_t room = MaxLineBytes - known;
    line.text.append(piece.substr(0, room));
    line.cut = line.cut || piece.size() > room;
}

void COutputTail::EndLine(PartialLine& line)
{
    std::string text = std::move(line.text);
    const bool keep = !line.progress;
    const bool cut = line.cut;
    line = PartialLine();
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    if (!keep || text.empty())
        return;
    if (cut)
        text += CutMark;
    m_bytes += text.size();
    m_lines.push_back(std::move(text));
    while (m_lines.size() > MaxLines || m_bytes > MaxBytes) {
        m_bytes -= m_lines.front().size();
        m_lines.pop_front();
    }
}

QStringList COutputTail::TakeLines()
{
    for (PartialLine& line : m_partial)
        EndLine(line);
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(m_lines.size()));
    for (const std::string& line : m_lines)
        lines << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    Clear();
    return lines;
}

void COutputTail::Clear()
{
    for (PartialLine& line : m_partial)
        line = PartialLine();
    m_lines.clear();
    m_bytes = 0;
}
