// Zlib through the interpreter: round trips of binary Strings, streams made
// by Python's zlib in both directions, nil for invalid and truncated input
// and for non-Strings, and the output limit of the native decompressor.
#include <gtest/gtest.h>

#include "mruby_run.h"

#include "temp_vfs.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/string.h>
#include <mruby/variable.h>

#include "bindings/ffi.h"
#include "bindings/ffi_internal.h"

namespace fs = std::filesystem;

namespace {

std::string random_bytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (auto &c : out) {
        c = (char)(gen() & 0xFF);
    }
    return out;
}

std::string all_byte_values()
{
    std::string out;
    for (int i = 0; i < 256; i++) {
        out.push_back((char)i);
    }
    return out;
}

void write_real(const std::string &path, const std::string &data)
{
    std::ofstream(path, std::ios::binary) << data;
}

class ZlibTest : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;
    std::string dir;

    void SetUp() override
    {
        dir = temp_root + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir);
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        ASSERT_TRUE(ffi_init(dir.c_str(), dir.c_str(), mrb, nullptr)) << SDL_GetError();
    }

    void TearDown() override
    {
        if (mrb) {
            mrb_close(mrb);
        }
    }

    void set_data(const std::string &data)
    {
        mrb_gv_set(mrb, mrb_intern_lit(mrb, "$data"), mrb_str_new(mrb, data.data(), (mrb_int)data.size()));
    }

    std::string run(const std::string &code) { return mruby_run(mrb, code); }

    std::string run_bytes(const std::string &code) { return mruby_run_bytes(mrb, code); }

    std::string compress(const std::string &data)
    {
        set_data(data);
        return run_bytes("Zlib.compress($data)");
    }

    // Zlib.uncompress of the bytes: their inspected result.
    std::string uncompress_inspect(const std::string &stream)
    {
        set_data(stream);
        return run("Zlib.uncompress($data)");
    }
};

TEST_F(ZlibTest, RoundTripsAnyBytes)
{
    std::string text;
    for (int i = 0; i < 1000; i++) {
        text += "hello world ";
    }
    const std::vector<std::string> payloads = {
        "", "a", all_byte_values(), random_bytes(64 * 1024, 7), std::string(1 << 20, '\0'), text,
    };
    for (const auto &p : payloads) {
        set_data(p);
        // Default level header, then both names for each direction.
        EXPECT_EQ(run("c = Zlib.compress($data); [c.getbyte(0), c.getbyte(1), Zlib.uncompress(c) == $data, "
                      "Zlib.inflate(Zlib.deflate($data)) == $data, Zlib.deflate($data) == c]"),
                  "[120, 156, true, true, true]")
            << p.size();
    }
    // Highly compressible input: about a thousand to one.
    set_data(std::string(1 << 20, '\0'));
    EXPECT_EQ(run("Zlib.compress($data).size < 2048"), "true");
    EXPECT_EQ(compress("").size(), 8u);
    // A small stream after a highly compressible one still works.
    EXPECT_EQ(uncompress_inspect(compress("after")), "\"after\"");
}

TEST_F(ZlibTest, InteroperatesWithPythonsZlib)
{
    if (system("python3 -c 'import zlib' > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 with zlib is not available";
    }
    // Python writes payloads and its streams of them at several levels,
    // window sizes, strategies and with a full flush in the middle; then it
    // checks the streams written by us.
    const std::string script = dir + "/interop.py";
    write_real(script, R"PY(
import os, random, sys, zlib
d = sys.argv[1]
mode = sys.argv[2]
text = b"hello world " * 1000
payloads = [b"", b"a", bytes(range(256)), random.Random(7).randbytes(65536), bytes(1 << 20), text]
def variants(p):
    out = [zlib.compress(p, level) for level in (0, 1, 6, 9)]
    for wbits in (9, 12, 15):
        c = zlib.compressobj(6, zlib.DEFLATED, wbits)
        out.append(c.compress(p) + c.flush())
    for strategy in (zlib.Z_FILTERED, zlib.Z_HUFFMAN_ONLY, zlib.Z_RLE, zlib.Z_FIXED):
        c = zlib.compressobj(6, zlib.DEFLATED, 15, 8, strategy)
        out.append(c.compress(p) + c.flush())
    c = zlib.compressobj()
    half = len(p) // 2
    out.append(c.compress(p[:half]) + c.flush(zlib.Z_FULL_FLUSH) + c.compress(p[half:]) + c.flush())
    return out
if mode == "make":
    n = 0
    for i, p in enumerate(payloads):
        open(os.path.join(d, "payload_%d" % i), "wb").write(p)
        for s in variants(p):
            open(os.path.join(d, "stream_%d_%d" % (i, n), ), "wb").write(s)
            n += 1
    # Not zlib streams: gzip, raw deflate, and a stream needing a dictionary.
    g = zlib.compressobj(6, zlib.DEFLATED, 31); open(os.path.join(d, "bad_gzip"), "wb").write(g.compress(text) + g.flush())
    r = zlib.compressobj(6, zlib.DEFLATED, -15); open(os.path.join(d, "bad_raw"), "wb").write(r.compress(text) + r.flush())
    z = zlib.compressobj(zdict=b"hello world"); open(os.path.join(d, "bad_dict"), "wb").write(z.compress(text) + z.flush())
else:
    for i, p in enumerate(payloads):
        if zlib.decompress(open(os.path.join(d, "ours_%d" % i), "rb").read()) != p:
            sys.exit(10 + i)
)PY");
    ASSERT_EQ(system(("python3 " + script + " " + dir + " make").c_str()), 0);

    std::vector<std::string> payloads;
    for (int i = 0; fs::exists(dir + "/payload_" + std::to_string(i)); i++) {
        payloads.push_back(read_real(dir + "/payload_" + std::to_string(i)));
    }
    ASSERT_EQ(payloads.size(), 6u);
    int streams = 0;
    for (const auto &entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("stream_", 0) != 0) {
            continue;
        }
        const size_t index = std::stoul(name.substr(7, name.find('_', 7) - 7));
        ASSERT_LT(index, payloads.size());
        set_data(read_real(entry.path().string()));
        EXPECT_EQ(run_bytes("Zlib.uncompress($data) || 'nil'"), payloads[index]) << name;
        streams++;
    }
    EXPECT_EQ(streams, 6 * 12);
    for (const char *name : {"bad_gzip", "bad_raw", "bad_dict"}) {
        EXPECT_EQ(uncompress_inspect(read_real(dir + "/" + name)), "nil") << name;
    }

    for (size_t i = 0; i < payloads.size(); i++) {
        write_real(dir + "/ours_" + std::to_string(i), compress(payloads[i]));
    }
    const int status = system(("python3 " + script + " " + dir + " check").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "python rejected our stream " << WEXITSTATUS(status);
}

TEST_F(ZlibTest, InvalidAndTruncatedInputAnswerNil)
{
    std::string text;
    for (int i = 0; i < 50; i++) {
        text += "hello world ";
    }
    const std::string good = compress(text);
    ASSERT_GT(good.size(), 10u);
    std::string bad_check = good;
    bad_check.back() ^= 1;
    std::string bad_data = good;
    bad_data[good.size() / 2] ^= 0x55;
    std::string bad_header = good;
    bad_header[1] ^= 1;
    const std::vector<std::string> invalid = {
        "", "not a zlib stream", std::string("\x78\x9c", 2), std::string("\x78\x9c\xff\xff\xff\xff", 6),
        bad_check, bad_data, bad_header, random_bytes(4096, 3),
    };
    for (const auto &s : invalid) {
        EXPECT_EQ(uncompress_inspect(s), "nil") << s.size();
    }
    // Every truncation of a valid stream, and some of a long one.
    for (size_t n = 0; n < good.size(); n++) {
        EXPECT_EQ(uncompress_inspect(good.substr(0, n)), "nil") << n;
    }
    const std::string zeros = compress(std::string(1 << 20, '\0'));
    for (size_t n : {(size_t)2, zeros.size() / 2, zeros.size() - 4, zeros.size() - 1}) {
        EXPECT_EQ(uncompress_inspect(zeros.substr(0, n)), "nil") << n;
    }
    // As with zlib's own uncompress, bytes after a complete stream are
    // ignored.
    EXPECT_EQ(uncompress_inspect(compress("abc") + "trailing"), "\"abc\"");
    EXPECT_EQ(uncompress_inspect(good), "\"" + text + "\"");
}

TEST_F(ZlibTest, NonStringsAnswerNilAndArgumentCountsRaise)
{
    EXPECT_EQ(run("[Zlib.compress(nil), Zlib.deflate(1), Zlib.uncompress(:sym), Zlib.inflate([1])]"),
              "[nil, nil, nil, nil]");
    for (const char *code : {"Zlib.compress", "Zlib.deflate('a', 'b')", "Zlib.uncompress", "Zlib.inflate(1, 2)"}) {
        EXPECT_EQ(run(code).rfind("ArgumentError: wrong number of arguments", 0), 0u) << code << ": " << run(code);
    }
    EXPECT_EQ(run("[Zlib.class, Zlib.superclass]"), "[Class, Object]");
}

TEST_F(ZlibTest, DecompressionStopsAtItsLimit)
{
    EXPECT_EQ(ZLIB_UNCOMPRESS_MAX, (size_t)1 << 30);
    for (size_t size : {(size_t)0, (size_t)1, (size_t)255, (size_t)256, (size_t)257, (size_t)1000, (size_t)4096,
                        (size_t)1 << 20}) {
        const std::string data = random_bytes(size / 2, 11) + std::string(size - size / 2, 'z');
        size_t stream_len = 0;
        Uint8 *stream = zlib_compress_bytes((const Uint8 *)data.data(), data.size(), &stream_len);
        ASSERT_NE(stream, nullptr) << SDL_GetError();
        for (size_t limit : {size ? size - 1 : 0, size, size + 1, size * 2 + 1}) {
            size_t out_len = 12345;
            Uint8 *out = zlib_uncompress_bytes(stream, stream_len, limit, &out_len);
            if (limit >= size) {
                ASSERT_NE(out, nullptr) << size << " " << limit << ": " << SDL_GetError();
                EXPECT_EQ(std::string((const char *)out, out_len), data) << size << " " << limit;
            } else {
                EXPECT_EQ(out, nullptr) << size << " " << limit;
                EXPECT_NE(std::string(SDL_GetError()).find("more than"), std::string::npos) << SDL_GetError();
            }
            SDL_free(out);
        }
        SDL_free(stream);
    }
}

} // namespace
