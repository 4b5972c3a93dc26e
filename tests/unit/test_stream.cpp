// Thread stream codec, free list, queues and the scene helpers.
#include "stream/threadstream.h"

#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>
#include <string.h>

#include <set>
#include <vector>

namespace {

struct StreamTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(threadstream_init()); }
    void TearDown() override { threadstream_quit(); }

    // A fresh stream holding raw bytes, for hostile or truncated input.
    threadstream *raw(const void *bytes, size_t n)
    {
        threadstream *s = threadstream_allocate();
        EXPECT_TRUE(threadstream_claim_space(s, n));
        memcpy(s->data, bytes, n);
        s->length = n;
        return s;
    }
};

Sint32 word_at(const threadstream *s, size_t off)
{
    Sint32 v;
    memcpy(&v, s->data + off, 4);
    return v;
}

TEST_F(StreamTest, NewStreamIsEmptyWithInitialCapacity)
{
    threadstream *s = threadstream_allocate();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->length, 0u);
    EXPECT_EQ(s->read_pos, 0u);
    EXPECT_EQ(s->capacity, 1024u);
    EXPECT_EQ(s->failed, 0);
    EXPECT_TRUE(threadstream_eos(s));
    threadstream_free(s);
}

TEST_F(StreamTest, StringSizesAndPadding)
{
    // Length word + bytes + NUL, padded to 4, whatever the start offset.
    struct {
        const char *text;
        size_t packed;
    } cases[] = {{"", 8}, {"a", 8}, {"ab", 8}, {"abc", 8}, {"abcd", 12}, {"abcde", 12}};
    for (size_t lead = 0; lead <= 1; lead++) {
        for (auto &c : cases) {
            SCOPED_TRACE(testing::Message() << "text '" << c.text << "' after " << lead << " ints");
            threadstream *s = threadstream_allocate();
            for (size_t i = 0; i < lead; i++) {
                ASSERT_TRUE(threadstream_pack_int(s, 77));
            }
            size_t start = s->length;
            ASSERT_TRUE(threadstream_pack_string(s, c.text));
            ASSERT_TRUE(threadstream_pack_int(s, 0x5eed));
            size_t n = strlen(c.text);
            EXPECT_EQ(s->length - start, c.packed + 4);
            EXPECT_EQ(s->length % 4, 0u);
            EXPECT_EQ(word_at(s, start), (Sint32)n);
            EXPECT_EQ(memcmp(s->data + start + 4, c.text, n + 1), 0);

            for (size_t i = 0; i < lead; i++) {
                EXPECT_EQ(threadstream_unpack_int(s), 77);
            }
            Sint32 len = -5;
            const char *out = threadstream_unpack_string(s, &len);
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(len, (Sint32)n);
            EXPECT_STREQ(out, c.text);
            EXPECT_EQ(s->read_pos, start + c.packed);
            EXPECT_EQ(threadstream_unpack_int(s), 0x5eed);
            EXPECT_TRUE(threadstream_eos(s));
            EXPECT_EQ(s->failed, 0);
            threadstream_free(s);
        }
    }
}

TEST_F(StreamTest, BuffersKeepEmbeddedNulBytes)
{
    const Uint8 bytes[] = {1, 0, 2, 0, 3};
    threadstream *s = threadstream_allocate();
    ASSERT_TRUE(threadstream_pack_buffer(s, bytes, sizeof(bytes)));
    ASSERT_TRUE(threadstream_pack_c_string(s, "tail"));
    Sint32 len = 0;
    const void *out = threadstream_unpack_buffer(s, &len);
    ASSERT_EQ(len, 5);
    EXPECT_EQ(memcmp(out, bytes, 5), 0);
    EXPECT_STREQ(threadstream_unpack_string(s, &len), "tail");
    EXPECT_EQ(len, 4);
    EXPECT_TRUE(threadstream_eos(s));
    threadstream_free(s);
}

TEST_F(StreamTest, AbsentStringsAreOneMinusOneWord)
{
    threadstream *s = threadstream_allocate();
    ASSERT_TRUE(threadstream_pack_string(s, nullptr));
    ASSERT_TRUE(threadstream_pack_c_string(s, nullptr));
    ASSERT_TRUE(threadstream_pack_buffer(s, nullptr, 99));
    ASSERT_TRUE(threadstream_pack_int(s, 5));
    EXPECT_EQ(s->length, 16u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(word_at(s, (size_t)i * 4), -1);
        Sint32 len = 42;
        EXPECT_EQ(threadstream_unpack_string(s, &len), nullptr);
        EXPECT_EQ(len, 0);
        EXPECT_EQ(s->read_pos, (size_t)(i + 1) * 4);
    }
    EXPECT_EQ(threadstream_unpack_int(s), 5);
    EXPECT_EQ(s->failed, 0);
    threadstream_free(s);
}

TEST_F(StreamTest, ScalarsRoundTripUnaligned)
{
    const Sint32 ints[] = {0, 1, -1, SDL_MIN_SINT32, SDL_MAX_SINT32};
    const float floats[] = {0.0f, -0.0f, 1.5f, -3.25e-40f, INFINITY, -INFINITY, NAN, 3.4e38f};
    const Uint64 sizes[] = {0, 1, (Uint64)1 << 40, UINT64_MAX};

    threadstream *s = threadstream_allocate();
    // One leading int puts every size_t at an offset that is not a
    // multiple of 8.
    ASSERT_TRUE(threadstream_pack_int(s, 9));
    for (size_t i = 0; i < 5; i++) {
        ASSERT_TRUE(threadstream_pack_int(s, ints[i]));
        ASSERT_TRUE(threadstream_pack_float(s, floats[i]));
        ASSERT_TRUE(threadstream_pack_size_t(s, sizes[i % 4]));
    }
    for (size_t i = 5; i < 8; i++) {
        ASSERT_TRUE(threadstream_pack_float(s, floats[i]));
    }
    EXPECT_EQ(s->length, 4u + 5 * 16 + 3 * 4);

    EXPECT_EQ(threadstream_unpack_int(s), 9);
    for (size_t i = 0; i < 5; i++) {
        EXPECT_EQ(threadstream_unpack_int(s), ints[i]);
        float f = threadstream_unpack_float(s);
        EXPECT_EQ(memcmp(&f, &floats[i], 4), 0) << i;
        EXPECT_EQ(threadstream_unpack_size_t(s), sizes[i % 4]);
    }
    for (size_t i = 5; i < 8; i++) {
        float f = threadstream_unpack_float(s);
        EXPECT_EQ(memcmp(&f, &floats[i], 4), 0) << i;
    }
    EXPECT_TRUE(threadstream_eos(s));
    EXPECT_EQ(s->failed, 0);
    threadstream_free(s);
}

TEST_F(StreamTest, FloatAsIntTruncatesAndSaturates)
{
    struct {
        double in;
        Sint32 out;
    } cases[] = {
        {0.0, 0},
        {-0.0, 0},
        {2.9, 2},
        {-2.9, -2},
        {2147483647.0, SDL_MAX_SINT32},
        {2147483647.9, SDL_MAX_SINT32},
        {2147483648.0, SDL_MAX_SINT32},
        {-2147483648.0, SDL_MIN_SINT32},
        {-2147483648.9, SDL_MIN_SINT32},
        {-2147483649.0, SDL_MIN_SINT32},
        {3e9, SDL_MAX_SINT32},
        {-3e9, SDL_MIN_SINT32},
        {1e300, SDL_MAX_SINT32},
        {INFINITY, SDL_MAX_SINT32},
        {-INFINITY, SDL_MIN_SINT32},
        {NAN, 0},
        {-NAN, 0},
    };
    threadstream *s = threadstream_allocate();
    for (auto &c : cases) {
        ASSERT_TRUE(threadstream_pack_float_as_int(s, c.in));
    }
    EXPECT_EQ(s->length, 4 * (sizeof(cases) / sizeof(cases[0])));
    for (auto &c : cases) {
        EXPECT_EQ(threadstream_unpack_int(s), c.out) << "input " << c.in;
    }
    threadstream_free(s);
}

TEST_F(StreamTest, GrowthDoublesCapacityAndKeepsContents)
{
    std::vector<Uint8> big(1500);
    for (size_t i = 0; i < big.size(); i++) {
        big[i] = (Uint8)(i * 7 + 1);
    }
    threadstream *s = threadstream_allocate();
    ASSERT_TRUE(threadstream_pack_buffer(s, big.data(), big.size()));
    EXPECT_EQ(s->capacity, 2048u);
    EXPECT_EQ(s->length, 1508u);

    // Ints up to exactly 2048 bytes fit; one more doubles again.
    while (s->length < 2048) {
        ASSERT_TRUE(threadstream_pack_int(s, (Sint32)s->length));
    }
    EXPECT_EQ(s->capacity, 2048u);
    ASSERT_TRUE(threadstream_pack_int(s, -7));
    EXPECT_EQ(s->capacity, 4096u);

    // A claim grows without packing anything.
    ASSERT_TRUE(threadstream_claim_space(s, 10000));
    EXPECT_EQ(s->capacity, 16384u);
    EXPECT_EQ(s->length, 2052u);

    Sint32 len = 0;
    const void *out = threadstream_unpack_buffer(s, &len);
    ASSERT_EQ(len, 1500);
    EXPECT_EQ(memcmp(out, big.data(), big.size()), 0);
    while (s->read_pos < 2048) {
        Sint32 expect = (Sint32)s->read_pos;
        ASSERT_EQ(threadstream_unpack_int(s), expect);
    }
    EXPECT_EQ(threadstream_unpack_int(s), -7);
    EXPECT_TRUE(threadstream_eos(s));
    EXPECT_EQ(s->failed, 0);
    threadstream_free(s);
}

TEST_F(StreamTest, HugeRequestsFailCleanly)
{
    const char small[4] = "abc";
    const size_t huge[] = {SIZE_MAX, SIZE_MAX - 3, SIZE_MAX / 2 + 1, (size_t)1 << 40,
                           (size_t)SDL_MAX_SINT32 + 1, (size_t)SDL_MAX_SINT32};
    for (size_t n : huge) {
        SCOPED_TRACE(testing::Message() << "n = " << n);
        threadstream *s = threadstream_allocate();
        ASSERT_TRUE(threadstream_pack_int(s, 1));
        EXPECT_FALSE(threadstream_claim_space(s, n));
        EXPECT_EQ(s->failed, 1);
        EXPECT_EQ(s->length, 4u);
        EXPECT_EQ(s->capacity, 1024u);
        // A failed stream ignores further packing.
        EXPECT_FALSE(threadstream_pack_int(s, 2));
        EXPECT_FALSE(threadstream_pack_string(s, "x"));
        EXPECT_EQ(s->length, 4u);
        threadstream_free(s);

        // The pointer must not be read when the length is refused.
        s = threadstream_allocate();
        EXPECT_FALSE(threadstream_pack_buffer(s, small, n));
        EXPECT_EQ(s->failed, 1);
        EXPECT_EQ(s->length, 0u);
        threadstream_free(s);
    }
    EXPECT_FALSE(threadstream_pack_int(nullptr, 1));
    EXPECT_FALSE(threadstream_pack_string(nullptr, "x"));
    EXPECT_FALSE(threadstream_claim_space(nullptr, 1));
}

TEST_F(StreamTest, ShortReadsSetFailed)
{
    const Uint8 seven[7] = {1, 2, 3, 4, 5, 6, 7};
    struct {
        const char *what;
        size_t have;
    } cases[] = {{"int", 2}, {"float", 3}, {"size_t", 7}, {"size_t", 4}, {"string", 3}, {"int", 0}};
    for (auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.what << " from " << c.have << " bytes");
        threadstream *s = raw(seven, c.have);
        if (!strcmp(c.what, "int")) {
            EXPECT_EQ(threadstream_unpack_int(s), 0);
        } else if (!strcmp(c.what, "float")) {
            EXPECT_EQ(threadstream_unpack_float(s), 0.0f);
        } else if (!strcmp(c.what, "size_t")) {
            EXPECT_EQ(threadstream_unpack_size_t(s), 0u);
        } else {
            Sint32 len = 9;
            EXPECT_STREQ(threadstream_unpack_string(s, &len), "");
            EXPECT_EQ(len, 0);
        }
        EXPECT_EQ(s->failed, 1);
        EXPECT_EQ(s->read_pos, 0u);
        EXPECT_TRUE(threadstream_eos(s));
        threadstream_free(s);
    }
}

TEST_F(StreamTest, HostileStringLengthsAreRejected)
{
    // Each stream holds a length word followed by 8 bytes "abcdefg\0".
    const Sint32 lengths[] = {-2, -100, SDL_MIN_SINT32, 8, 9, 100, SDL_MAX_SINT32};
    for (Sint32 n : lengths) {
        SCOPED_TRACE(testing::Message() << "length " << n);
        Uint8 bytes[12];
        memcpy(bytes, &n, 4);
        memcpy(bytes + 4, "abcdefg", 8);
        threadstream *s = raw(bytes, sizeof(bytes));
        Sint32 len = 5;
        const char *out = threadstream_unpack_string(s, &len);
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(out, "");
        EXPECT_EQ(len, 0);
        EXPECT_EQ(s->failed, 1);
        EXPECT_EQ(s->read_pos, 4u);
        EXPECT_TRUE(threadstream_eos(s));
        threadstream_free(s);
    }
}

TEST_F(StreamTest, StringWithoutTerminatorIsRejected)
{
    // Length 3 claims "abc" but the byte after it is not NUL: a reader
    // that trusted it would run on past the string.
    Uint8 bytes[12];
    Sint32 n = 3;
    memcpy(bytes, &n, 4);
    memcpy(bytes + 4, "abcdefgh", 8);
    threadstream *s = raw(bytes, sizeof(bytes));
    Sint32 len = 1;
    EXPECT_STREQ(threadstream_unpack_string(s, &len), "");
    EXPECT_EQ(len, 0);
    EXPECT_EQ(s->failed, 1);
    threadstream_free(s);

    // The largest length that fits: 7 bytes and the NUL.
    n = 7;
    memcpy(bytes, &n, 4);
    memcpy(bytes + 4, "abcdefg", 8);
    s = raw(bytes, sizeof(bytes));
    EXPECT_STREQ(threadstream_unpack_string(s, &len), "abcdefg");
    EXPECT_EQ(len, 7);
    EXPECT_EQ(s->read_pos, 12u);
    EXPECT_EQ(s->failed, 0);
    threadstream_free(s);
}

TEST_F(StreamTest, ReadingStopsAtTheFirstFailure)
{
    threadstream *s = threadstream_allocate();
    ASSERT_TRUE(threadstream_pack_int(s, -2));  // a bad string length
    ASSERT_TRUE(threadstream_pack_int(s, 11));
    ASSERT_TRUE(threadstream_pack_size_t(s, 12));
    Sint32 len;
    threadstream_unpack_string(s, &len);
    ASSERT_EQ(s->failed, 1);
    EXPECT_TRUE(threadstream_eos(s));
    EXPECT_EQ(threadstream_unpack_int(s), 0);
    EXPECT_EQ(threadstream_unpack_size_t(s), 0u);
    EXPECT_EQ(s->read_pos, 4u);
    threadstream_free(s);
}

TEST_F(StreamTest, EndOfStream)
{
    EXPECT_TRUE(threadstream_eos(nullptr));
    EXPECT_EQ(threadstream_unpack_int(nullptr), 0);
    Sint32 len = 3;
    EXPECT_STREQ(threadstream_unpack_string(nullptr, &len), "");
    EXPECT_EQ(len, 0);

    threadstream *s = threadstream_allocate();
    EXPECT_TRUE(threadstream_eos(s));
    ASSERT_TRUE(threadstream_pack_int(s, 1));
    ASSERT_TRUE(threadstream_pack_int(s, 2));
    EXPECT_FALSE(threadstream_eos(s));
    threadstream_unpack_int(s);
    EXPECT_FALSE(threadstream_eos(s));
    threadstream_unpack_int(s);
    EXPECT_TRUE(threadstream_eos(s));
    EXPECT_EQ(s->failed, 0);
    threadstream_free(s);
}

TEST_F(StreamTest, RecyclingKeepsCapacityAndResetsState)
{
    threadstream *s = threadstream_allocate();
    std::vector<Uint8> big(5000, 0xab);
    ASSERT_TRUE(threadstream_pack_buffer(s, big.data(), big.size()));
    threadstream_unpack_int(s);
    s->failed = 1;
    size_t capacity = s->capacity;
    ASSERT_EQ(capacity, 8192u);
    threadstream_free(s);

    threadstream *again = threadstream_allocate();
    ASSERT_EQ(again, s);
    EXPECT_EQ(again->capacity, capacity);
    EXPECT_EQ(again->length, 0u);
    EXPECT_EQ(again->read_pos, 0u);
    EXPECT_EQ(again->failed, 0);
    EXPECT_EQ(again->next, nullptr);
    EXPECT_TRUE(threadstream_eos(again));

    // The free list is a stack: the last released comes back first.
    threadstream *other = threadstream_allocate();
    EXPECT_NE(other, again);
    threadstream_free(again);
    threadstream_free(other);
    EXPECT_EQ(threadstream_allocate(), other);
    EXPECT_EQ(threadstream_allocate(), again);
    threadstream_free(other);
    threadstream_free(again);
    threadstream_free(nullptr);
}

TEST_F(StreamTest, SceneHelpers)
{
    ASSERT_TRUE(renderstream_init());
    Uint32 first = renderstream_tick_offset();
    SDL_Delay(5);
    EXPECT_EQ(renderstream_tick_offset(), first);

    threadstream *s = threadstream_allocate();
    threadstream_pack_int(s, 0);
    threadstream_pack_int(s, 1);
    EXPECT_EQ(renderstream_queue_scene(s), 1);
    EXPECT_EQ(renderstream_queue_scene(nullptr), 1);
    threadstream *again = threadstream_allocate();
    EXPECT_EQ(again, s);
    EXPECT_EQ(again->length, 0u);
    threadstream_free(again);
    renderstream_quit();
}

TEST(StreamWithoutFreeList, ReleasedStreamsAreFreed)
{
    // Streams released after shutdown must not leak (checked by LeakSanitizer).
    ASSERT_TRUE(threadstream_init());
    threadstream *s = threadstream_allocate();
    threadstream_quit();
    threadstream_free(s);
    s = threadstream_allocate();
    ASSERT_NE(s, nullptr);
    threadstream_free(s);
}

TEST_F(StreamTest, QueueIsFifoAndIgnoresNone)
{
    threadstreamqueue *q = threadstreamqueue_create();
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(threadstreamqueue_getitem(q), nullptr);
    EXPECT_EQ(threadstreamqueue_getcount(q), 0);
    EXPECT_EQ(threadstreamqueue_getcount(nullptr), 0);
    EXPECT_EQ(threadstreamqueue_getitem(nullptr), nullptr);

    threadstream *a = threadstream_allocate();
    threadstream *b = threadstream_allocate();
    threadstreamqueue_putitem(q, a);
    threadstreamqueue_putitem(q, nullptr);
    threadstreamqueue_putitem(nullptr, b);
    threadstreamqueue_putitem(q, b);
    EXPECT_EQ(threadstreamqueue_getcount(q), 2);
    EXPECT_EQ(threadstreamqueue_getitem(q), a);
    EXPECT_EQ(a->next, nullptr);
    // Emptying and refilling must reset the tail.
    EXPECT_EQ(threadstreamqueue_getitem(q), b);
    EXPECT_EQ(threadstreamqueue_getitem(q), nullptr);
    threadstreamqueue_putitem(q, a);
    EXPECT_EQ(threadstreamqueue_getitem(q), a);
    EXPECT_EQ(threadstreamqueue_getcount(q), 0);
    threadstream_free(a);
    threadstream_free(b);
    threadstreamqueue_unref(q);
    threadstreamqueue_unref(nullptr);
    threadstreamqueue_ref(nullptr);
}

TEST_F(StreamTest, LastUnrefReleasesQueuedStreams)
{
    threadstreamqueue *q = threadstreamqueue_create();
    ASSERT_NE(q, nullptr);
    threadstreamqueue_ref(q);
    std::set<threadstream *> queued;
    for (int i = 0; i < 3; i++) {
        threadstream *s = threadstream_allocate();
        threadstream_pack_int(s, i);
        queued.insert(s);
        threadstreamqueue_putitem(q, s);
    }
    threadstreamqueue_unref(q);
    EXPECT_EQ(threadstreamqueue_getcount(q), 3);
    threadstreamqueue_unref(q);

    std::set<threadstream *> back;
    for (int i = 0; i < 3; i++) {
        threadstream *s = threadstream_allocate();
        EXPECT_EQ(s->length, 0u);
        back.insert(s);
    }
    EXPECT_EQ(back, queued);
    for (threadstream *s : back) {
        threadstream_free(s);
    }
}

struct ProducerArgs {
    threadstreamqueue *queue;
    int count;
    int failures;
};

int SDLCALL produce(void *arg)
{
    ProducerArgs *p = (ProducerArgs *)arg;
    char text[32];
    for (int i = 0; i < p->count; i++) {
        threadstream *s = threadstream_allocate();
        if (!s) {
            p->failures++;
            continue;
        }
        SDL_snprintf(text, sizeof(text), "stream %d", i);
        threadstream_pack_int(s, i);
        threadstream_pack_string(s, text);
        threadstream_pack_size_t(s, (Uint64)i * 3);
        if (s->failed) {
            p->failures++;
        }
        threadstreamqueue_putitem(p->queue, s);
        if (i % 64 == 0) {
            SDL_Delay(0);
        }
    }
    return 0;
}

TEST_F(StreamTest, ProducerAndConsumerThreads)
{
    const int count = 5000;
    threadstreamqueue *q = threadstreamqueue_create();
    ASSERT_NE(q, nullptr);
    ProducerArgs args = {q, count, 0};
    SDL_Thread *producer = SDL_CreateThread(produce, "producer", &args);
    ASSERT_NE(producer, nullptr);

    std::set<threadstream *> seen;
    char expect[32];
    int bad = 0;
    for (int next = 0; next < count;) {
        EXPECT_GE(threadstreamqueue_getcount(q), 0);
        threadstream *s = threadstreamqueue_getitem(q);
        if (!s) {
            SDL_Delay(0);
            continue;
        }
        seen.insert(s);
        SDL_snprintf(expect, sizeof(expect), "stream %d", next);
        Sint32 len = 0;
        bad += threadstream_unpack_int(s) != next;
        const char *text = threadstream_unpack_string(s, &len);
        bad += !text || strcmp(text, expect) != 0 || len != (Sint32)strlen(expect);
        bad += threadstream_unpack_size_t(s) != (Uint64)next * 3;
        bad += !threadstream_eos(s) || s->failed;
        threadstream_free(s);
        next++;
    }
    SDL_WaitThread(producer, nullptr);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(args.failures, 0);
    EXPECT_EQ(threadstreamqueue_getcount(q), 0);
    EXPECT_EQ(threadstreamqueue_getitem(q), nullptr);
    threadstreamqueue_unref(q);

    // Every stream is back on the free list: exactly the streams seen come
    // out again, and only then a new one.
    std::set<threadstream *> back;
    for (size_t i = 0; i < seen.size(); i++) {
        back.insert(threadstream_allocate());
    }
    EXPECT_EQ(back, seen);
    threadstream *fresh = threadstream_allocate();
    EXPECT_EQ(seen.count(fresh), 0u);
    back.insert(fresh);
    for (threadstream *s : back) {
        threadstream_free(s);
    }
}

}  // namespace
