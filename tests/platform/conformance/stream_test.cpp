#include <cstring>

#include "check.h"

namespace {
LARGE_INTEGER offset(LONGLONG v) {
    LARGE_INTEGER li;
    li.QuadPart = v;
    return li;
}
}  // namespace

TEST(MemoryStream, WritesReadsSeeksAndGrows) {
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ULONG done = 0;
    ASSERT_EQ(stream->Write("<NUVGridInfo/>", 14, &done), S_OK);
    EXPECT_EQ(done, 14u);
    ULARGE_INTEGER position;
    ASSERT_EQ(stream->Seek(offset(0), STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 14u);
    STATSTG stat;
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 14u);
    EXPECT_EQ(stat.type, DWORD(STGTY_STREAM));

    ASSERT_EQ(stream->Seek(offset(1), STREAM_SEEK_SET, nullptr), S_OK);
    char buffer[32] = {};
    ASSERT_EQ(stream->Read(buffer, 3, &done), S_OK);
    EXPECT_EQ(std::string(buffer), "NUV");
    // Reading past the end delivers what is there, with S_OK.
    ASSERT_EQ(stream->Seek(offset(-2), STREAM_SEEK_END, nullptr), S_OK);
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(stream->Read(buffer, 10, &done), S_OK);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(std::string(buffer), "/>");
    EXPECT_EQ(stream->Read(buffer, 10, &done), S_OK);
    EXPECT_EQ(done, 0u);
    // Before the start is refused; writing beyond the end grows the stream (the gap is unspecified).
    EXPECT_NE(stream->Seek(offset(-1), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Seek(offset(20), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Write("!", 1, &done), S_OK);
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 21u);
    ASSERT_EQ(stream->Seek(offset(14), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Read(buffer, 7, &done), S_OK);
    EXPECT_EQ(done, 7u);
    EXPECT_EQ(buffer[6], '!');

    // A clone shares the bytes and has its own position.
    IStream* clone = nullptr;
    ASSERT_EQ(stream->Clone(&clone), S_OK);
    ASSERT_EQ(clone->Seek(offset(0), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(clone->Write("X", 1, &done), S_OK);
    ASSERT_EQ(stream->Seek(offset(0), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Read(buffer, 1, &done), S_OK);
    EXPECT_EQ(buffer[0], 'X');
    clone->Release();

    ULARGE_INTEGER size;
    size.QuadPart = 3;
    ASSERT_EQ(stream->SetSize(size), S_OK);
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 3u);
    stream->Release();
}
