// The in-memory multipart body the WinINet transfer sends: parts intact
// whatever bytes they hold, names that cannot break out of their header,
// and no body at all when a file part cannot be read.
#include "http/win/MultipartBody.h"

#include <gtest/gtest.h>

#include "TempDir.h"

namespace quorvin::http {
namespace {

TEST(MultipartBody, EachPartIsFramedByTheBoundaryItAnnounces) {
    testing::TempDir dir;
    testing::WriteBytes(dir / "f.bin", std::string("\r\n--\0x", 6));
    const char raw[] = {'\x01', '\0', '\x02'};
    std::vector<MultipartField> fields(3);
    fields[0].name = "text";
    fields[0].value = "v";
    fields[1].name = "file";
    fields[1].value = dir / "f.bin";
    fields[1].isFile = true;
    fields[2].name = "raw";
    fields[2].data = raw;
    fields[2].length = sizeof raw;
    MultipartBody body;
    std::string why;
    ASSERT_TRUE(BuildMultipartBody(fields, body, why)) << why;
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_EQ(body.contentType.rfind(prefix, 0), 0u);
    const std::string b = "--" + body.contentType.substr(prefix.size());
    const std::string expected = b + "\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\nv\r\n" + b +
                                 "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fields[1].value +
                                 "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + std::string("\r\n--\0x", 6) +
                                 "\r\n" + b + "\r\nContent-Disposition: form-data; name=\"raw\"\r\n\r\n" +
                                 std::string(raw, sizeof raw) + "\r\n" + b + "--\r\n";
    EXPECT_TRUE(body.bytes == expected);
}

TEST(MultipartBody, QuotesAndLineEndsInNamesStayInsideTheHeader) {
    std::vector<MultipartField> fields(1);
    fields[0].name = "a\"\r\nX-Evil: 1";
    MultipartBody body;
    std::string why;
    ASSERT_TRUE(BuildMultipartBody(fields, body, why)) << why;
    EXPECT_NE(body.bytes.find("name=\"a%22%0D%0AX-Evil: 1\""), std::string::npos) << body.bytes;
    EXPECT_EQ(body.bytes.find("\r\nX-Evil"), std::string::npos);
}

TEST(MultipartBody, AnUnreadableFileGivesNoBody) {
    std::vector<MultipartField> fields(1);
    fields[0].name = "photo";
    fields[0].value = "C:/no/such/quorvin/photo.jpg";
    fields[0].isFile = true;
    MultipartBody body;
    std::string why;
    EXPECT_FALSE(BuildMultipartBody(fields, body, why));
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(body.bytes.empty());
}

}  // namespace
}  // namespace quorvin::http
