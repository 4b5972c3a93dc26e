// Time class for scripts: a point in time as 64-bit seconds since the Unix
// epoch plus microseconds, viewed in UTC or in the local time zone. Values
// come from the system clock (timespec_get), from epoch numbers or from
// calendar fields (timegm/mktime); the broken-down fields are computed once
// per value or zone change with gmtime_r/localtime_r and kept with it.
// Depends on mruby's C API and the C library's time functions only.
#include <mruby.h>
#include <mruby/class.h>
#include <mruby/data.h>
#include <mruby/string.h>

#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

static_assert(sizeof(time_t) == 8, "Time needs a 64-bit time_t");

enum TimeZoneKind { TIME_ZONE_UTC = 1, TIME_ZONE_LOCAL = 2 };

struct TimeData {
    int64_t sec;
    int64_t usec; // 0 to 999999
    int zone;     // TimeZoneKind
    struct tm fields;
    char zone_name[16];
};

static const mrb_data_type time_type = {"Time", mrb_free};

static const char *const time_month_names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
static const char *const time_day_names[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

static const int64_t TIME_USEC_PER_SEC = 1000000;
// 2^63 as a double: every double strictly below it (and at or above -2^63)
// converts to int64_t.
static const double TIME_INT64_LIMIT = 9223372036854775808.0;

static mrb_noreturn void time_raise_range(mrb_state *mrb, mrb_value culprit)
{
    mrb_raisef(mrb, E_ARGUMENT_ERROR, "%v out of Time range", culprit);
}

static mrb_noreturn void time_raise_field_range(mrb_state *mrb)
{
    mrb_raise(mrb, E_ARGUMENT_ERROR, "argument out of range");
}

// localtime_r does not re-read TZ by itself (mktime does), and tzset() costs
// a stat of /etc/localtime when TZ is unset, so the zone is re-read only when
// TZ differs from what this thread saw last.
static void time_refresh_zone(void)
{
    enum { ZONE_NOT_SEEN, ZONE_UNSET, ZONE_TEXT, ZONE_TOO_LONG };
    static thread_local int seen_kind = ZONE_NOT_SEEN;
    static thread_local char seen_text[128];
    const char *tz = getenv("TZ");
    if (!tz) {
        if (seen_kind == ZONE_UNSET) return;
        seen_kind = ZONE_UNSET;
    } else {
        const size_t len = strlen(tz);
        if (seen_kind == ZONE_TEXT && strcmp(seen_text, tz) == 0) return;
        if (len < sizeof(seen_text)) {
            memcpy(seen_text, tz, len + 1);
            seen_kind = ZONE_TEXT;
        } else {
            seen_kind = ZONE_TOO_LONG;
        }
    }
    tzset();
}

// Fills t->fields and t->zone_name for t->sec in t->zone; 0 when the C
// library cannot represent the value (the year does not fit an int).
static int time_break_down(TimeData *t)
{
    const time_t s = (time_t)t->sec;
    if (t->zone == TIME_ZONE_UTC) {
        if (!gmtime_r(&s, &t->fields)) return 0;
        memcpy(t->zone_name, "UTC", 4);
        return 1;
    }
    time_refresh_zone();
    if (!localtime_r(&s, &t->fields)) return 0;
    const char *name = t->fields.tm_zone ? t->fields.tm_zone : "";
    size_t len = strlen(name);
    if (len >= sizeof(t->zone_name)) len = sizeof(t->zone_name) - 1;
    memcpy(t->zone_name, name, len);
    t->zone_name[len] = '\0';
    return 1;
}

// Brings usec into 0..999999, carrying whole seconds; 0 on overflow.
static int time_normalise(int64_t *sec, int64_t *usec)
{
    int64_t carry = *usec / TIME_USEC_PER_SEC;
    int64_t rest = *usec % TIME_USEC_PER_SEC;
    if (rest < 0) {
        rest += TIME_USEC_PER_SEC;
        carry -= 1;
    }
    if (__builtin_add_overflow(*sec, carry, sec)) return 0;
    *usec = rest;
    return 1;
}

// Splits a Float number of seconds into whole seconds and microseconds,
// rounded to the nearest microsecond (Floats rarely hold decimal fractions
// exactly, and 0.3 s should read back as 300000 us).
static void time_split_float(mrb_state *mrb, mrb_value culprit, double f, int64_t *sec, int64_t *usec)
{
    const double whole = floor(f);
    if (!(whole >= -TIME_INT64_LIMIT && whole < TIME_INT64_LIMIT)) time_raise_range(mrb, culprit);
    *sec = (int64_t)whole;
    *usec = (int64_t)llround((f - whole) * 1e6);
}

// Seconds (and microseconds) from an Integer or a Float.
static void time_split_number(mrb_state *mrb, mrb_value v, int64_t *sec, int64_t *usec)
{
    if (mrb_integer_p(v)) {
        *sec = mrb_integer(v);
        *usec = 0;
    } else if (mrb_float_p(v)) {
        time_split_float(mrb, v, mrb_float(v), sec, usec);
    } else {
        mrb_raisef(mrb, E_TYPE_ERROR, "can't convert %Y into an exact number", v);
    }
}

// Sets t to sec + usec microseconds in zone and breaks it down; a value the
// C library cannot represent raises with culprit as the offending input.
static void time_fill(mrb_state *mrb, TimeData *t, int64_t sec, int64_t usec, int zone, mrb_value culprit)
{
    t->sec = sec;
    t->usec = usec;
    t->zone = zone;
    if (!time_normalise(&t->sec, &t->usec) || !time_break_down(t)) time_raise_range(mrb, culprit);
}

// A new object of class cls holding t. The object exists before its data is
// allocated so that nothing leaks when an allocation raises.
static mrb_value time_wrap(mrb_state *mrb, struct RClass *cls, const TimeData *t)
{
    struct RData *obj = mrb_data_object_alloc(mrb, cls, NULL, &time_type);
    TimeData *data = (TimeData *)mrb_malloc(mrb, sizeof(TimeData));
    *data = *t;
    obj->data = data;
    return mrb_obj_value(obj);
}

static mrb_value time_make(mrb_state *mrb, struct RClass *cls, int64_t sec, int64_t usec, int zone,
                           mrb_value culprit)
{
    TimeData t;
    time_fill(mrb, &t, sec, usec, zone, culprit);
    return time_wrap(mrb, cls, &t);
}

static TimeData *time_get(mrb_state *mrb, mrb_value self)
{
    if (mrb_data_p(self) && (DATA_TYPE(self) == NULL || DATA_PTR(self) == NULL))
        mrb_raise(mrb, E_TYPE_ERROR, "uninitialized time");
    return (TimeData *)mrb_data_get_ptr(mrb, self, &time_type);
}

// The Time inside v, or NULL when v is no (initialised) Time.
static TimeData *time_peek(mrb_state *mrb, mrb_value v)
{
    return (TimeData *)mrb_data_check_get_ptr(mrb, v, &time_type);
}

static void time_read_clock(mrb_state *mrb, TimeData *t)
{
    struct timespec ts;
    if (timespec_get(&ts, TIME_UTC) != TIME_UTC)
        mrb_raise(mrb, E_RUNTIME_ERROR, "timespec_get() failed for unknown reasons");
    const int64_t sec = (int64_t)ts.tv_sec;
    time_fill(mrb, t, sec, (int64_t)(ts.tv_nsec / 1000), TIME_ZONE_LOCAL, mrb_int_value(mrb, (mrb_int)sec));
}

// One calendar field: an Integer, a Float (truncated) or a decimal String.
static int64_t time_field_int(mrb_state *mrb, mrb_value v)
{
    if (mrb_integer_p(v)) return mrb_integer(v);
    if (mrb_float_p(v)) {
        const double f = mrb_float(v);
        if (!(f > -TIME_INT64_LIMIT && f < TIME_INT64_LIMIT)) time_raise_range(mrb, v);
        return (int64_t)f;
    }
    if (mrb_string_p(v)) {
        char buf[32];
        const mrb_int len = RSTRING_LEN(v);
        if (len > 0 && len < (mrb_int)sizeof(buf)) {
            memcpy(buf, RSTRING_PTR(v), (size_t)len);
            buf[len] = '\0';
            char *end = NULL;
            errno = 0;
            const long long n = strtoll(buf, &end, 10);
            if (end == buf + len && errno == 0 && strlen(buf) == (size_t)len) return (int64_t)n;
            if (errno == ERANGE) time_raise_range(mrb, v);
        }
        mrb_raisef(mrb, E_ARGUMENT_ERROR, "invalid value for Integer(): %!v", v);
    }
    mrb_raisef(mrb, E_TYPE_ERROR, "can't convert %Y into an exact number", v);
}

static int64_t time_field_month(mrb_state *mrb, mrb_value v)
{
    if (mrb_string_p(v) && RSTRING_LEN(v) == 3) {
        for (int i = 0; i < 12; i++) {
            if (strncasecmp(RSTRING_PTR(v), time_month_names[i], 3) == 0) return i + 1;
        }
    }
    return time_field_int(mrb, v);
}

// Builds a value from year [, month, day, hour, min, sec, usec] as UTC or as
// local time. Absent or nil fields take their defaults (month and day 1,
// the rest 0); sec may carry a fraction.
static void time_from_fields(mrb_state *mrb, TimeData *out, const mrb_value *argv, mrb_int argc, int zone)
{
    if (argc < 1 || argc > 7) mrb_argnum_error(mrb, argc, 1, 7);
    int64_t f[7] = {0, 1, 1, 0, 0, 0, 0};
    int64_t sec_usec = 0;
    for (mrb_int i = 0; i < argc; i++) {
        const mrb_value v = argv[i];
        if (mrb_nil_p(v)) {
            if (i == 0) mrb_raisef(mrb, E_TYPE_ERROR, "can't convert %Y into an exact number", v);
            continue;
        }
        if (i == 1) {
            f[i] = time_field_month(mrb, v);
        } else if (i == 5 && mrb_float_p(v)) {
            if (!isfinite(mrb_float(v))) time_raise_field_range(mrb);
            time_split_float(mrb, v, mrb_float(v), &f[i], &sec_usec);
        } else {
            f[i] = time_field_int(mrb, v);
        }
    }
    const int64_t year = f[0];
    if (f[1] < 1 || f[1] > 12 || f[2] < 1 || f[2] > 31 || f[3] < 0 || f[3] > 24 || f[4] < 0 || f[4] > 59 ||
        f[5] < 0 || f[5] > 60 || f[6] < 0 || f[6] >= TIME_USEC_PER_SEC)
        time_raise_field_range(mrb);
    if (f[3] == 24 && (f[4] != 0 || f[5] != 0 || f[6] != 0 || sec_usec != 0)) time_raise_field_range(mrb);
    if (year < (int64_t)INT_MIN + 1900 || year > (int64_t)INT_MAX) time_raise_range(mrb, argv[0]);

    struct tm tm;
    memset(&tm, 0, sizeof(tm));
    tm.tm_year = (int)(year - 1900);
    tm.tm_mon = (int)(f[1] - 1);
    tm.tm_mday = (int)f[2];
    tm.tm_hour = (int)f[3];
    tm.tm_min = (int)f[4];
    tm.tm_sec = (int)f[5];
    tm.tm_isdst = -1;
    errno = 0;
    const time_t t = zone == TIME_ZONE_UTC ? timegm(&tm) : mktime(&tm);
    // -1 is also 1969-12-31 23:59:59 UTC; errno tells the failure apart.
    if (t == (time_t)-1 && errno != 0) time_raise_range(mrb, argv[0]);
    time_fill(mrb, out, (int64_t)t, f[6] + sec_usec, zone, argv[0]);
}

static mrb_value time_s_now(mrb_state *mrb, mrb_value klass)
{
    TimeData t;
    time_read_clock(mrb, &t);
    return time_wrap(mrb, mrb_class_ptr(klass), &t);
}

static mrb_value time_s_at(mrb_state *mrb, mrb_value klass)
{
    mrb_value value, sub = mrb_nil_value();
    const mrb_int argc = mrb_get_args(mrb, "o|o", &value, &sub);
    const TimeData *src = time_peek(mrb, value);
    if (src && argc == 1) return time_make(mrb, mrb_class_ptr(klass), src->sec, src->usec, src->zone, value);

    int64_t sec, usec;
    time_split_number(mrb, value, &sec, &usec);
    if (argc == 2) {
        int64_t extra;
        if (mrb_integer_p(sub)) {
            extra = mrb_integer(sub);
        } else if (mrb_float_p(sub)) {
            const double whole = floor(mrb_float(sub));
            if (!(whole >= -TIME_INT64_LIMIT && whole < TIME_INT64_LIMIT)) time_raise_range(mrb, sub);
            extra = (int64_t)whole;
        } else {
            mrb_raisef(mrb, E_TYPE_ERROR, "can't convert %Y into an exact number", sub);
        }
        // Carry whole seconds out of the microseconds first so that a huge
        // microsecond count cannot overflow the sum.
        int64_t extra_sec = 0;
        if (!time_normalise(&extra_sec, &extra) || __builtin_add_overflow(sec, extra_sec, &sec))
            time_raise_range(mrb, sub);
        usec += extra;
    }
    return time_make(mrb, mrb_class_ptr(klass), sec, usec, TIME_ZONE_LOCAL, value);
}

static mrb_value time_s_gm(mrb_state *mrb, mrb_value klass)
{
    const mrb_value *argv;
    mrb_int argc;
    mrb_get_args(mrb, "*", &argv, &argc);
    TimeData t;
    time_from_fields(mrb, &t, argv, argc, TIME_ZONE_UTC);
    return time_wrap(mrb, mrb_class_ptr(klass), &t);
}

static mrb_value time_s_local(mrb_state *mrb, mrb_value klass)
{
    const mrb_value *argv;
    mrb_int argc;
    mrb_get_args(mrb, "*", &argv, &argc);
    TimeData t;
    time_from_fields(mrb, &t, argv, argc, TIME_ZONE_LOCAL);
    return time_wrap(mrb, mrb_class_ptr(klass), &t);
}

// Stores t into self, allocating self's data on first use.
static void time_store(mrb_state *mrb, mrb_value self, const TimeData *t)
{
    mrb_check_frozen(mrb, mrb_obj_ptr(self));
    TimeData *data = (TimeData *)(DATA_TYPE(self) == &time_type ? DATA_PTR(self) : NULL);
    if (!data) {
        data = (TimeData *)mrb_malloc(mrb, sizeof(TimeData));
        mrb_data_init(self, data, &time_type);
    }
    *data = *t;
}

// Time.new: the current time without arguments, else local calendar fields.
static mrb_value time_initialize(mrb_state *mrb, mrb_value self)
{
    const mrb_value *argv;
    mrb_int argc;
    mrb_get_args(mrb, "*", &argv, &argc);
    TimeData t;
    if (argc == 0) time_read_clock(mrb, &t);
    else time_from_fields(mrb, &t, argv, argc, TIME_ZONE_LOCAL);
    time_store(mrb, self, &t);
    return self;
}

static mrb_value time_initialize_copy(mrb_state *mrb, mrb_value self)
{
    const mrb_value src = mrb_get_arg1(mrb);
    if (mrb_obj_equal(mrb, self, src)) return self;
    if (!mrb_data_p(src) || DATA_TYPE(src) != &time_type) mrb_raise(mrb, E_TYPE_ERROR, "wrong argument class");
    const TimeData *t = time_get(mrb, src);
    time_store(mrb, self, t);
    return self;
}

static mrb_value time_eq(mrb_state *mrb, mrb_value self)
{
    const TimeData *a = time_get(mrb, self);
    const TimeData *b = time_peek(mrb, mrb_get_arg1(mrb));
    return mrb_bool_value(b && a->sec == b->sec && a->usec == b->usec);
}

static mrb_value time_cmp(mrb_state *mrb, mrb_value self)
{
    const TimeData *a = time_get(mrb, self);
    const TimeData *b = time_peek(mrb, mrb_get_arg1(mrb));
    if (!b) return mrb_nil_value();
    int c = 0;
    if (a->sec != b->sec) c = a->sec < b->sec ? -1 : 1;
    else if (a->usec != b->usec) c = a->usec < b->usec ? -1 : 1;
    return mrb_fixnum_value(c);
}

static mrb_value time_hash(mrb_state *mrb, mrb_value self)
{
    const TimeData *t = time_get(mrb, self);
    const uint64_t h = (uint64_t)t->sec * 1000003u ^ (uint64_t)t->usec;
    return mrb_int_value(mrb, (mrb_int)(h >> 2));
}

// self + sign * amount, where amount is an Integer or Float of seconds.
static mrb_value time_shift(mrb_state *mrb, mrb_value self, mrb_value amount, int sign)
{
    const TimeData *t = time_get(mrb, self);
    int64_t sec = t->sec, usec = t->usec;
    int ok = 1;
    if (mrb_integer_p(amount)) {
        const int64_t n = mrb_integer(amount);
        ok = sign > 0 ? !__builtin_add_overflow(sec, n, &sec) : !__builtin_sub_overflow(sec, n, &sec);
    } else if (mrb_float_p(amount)) {
        int64_t dsec, dusec;
        time_split_float(mrb, amount, sign * mrb_float(amount), &dsec, &dusec);
        ok = !__builtin_add_overflow(sec, dsec, &sec);
        usec += dusec;
    } else {
        mrb_raisef(mrb, E_TYPE_ERROR, "can't convert %Y into an exact number", amount);
    }
    if (!ok) time_raise_range(mrb, amount);
    return time_make(mrb, mrb_obj_class(mrb, self), sec, usec, t->zone, amount);
}

static mrb_value time_plus(mrb_state *mrb, mrb_value self)
{
    const mrb_value other = mrb_get_arg1(mrb);
    if (time_peek(mrb, other)) mrb_raise(mrb, E_TYPE_ERROR, "time + time?");
    return time_shift(mrb, self, other, 1);
}

// Time - Time answers the difference in seconds as a Float.
static mrb_value time_minus(mrb_state *mrb, mrb_value self)
{
    const mrb_value other = mrb_get_arg1(mrb);
    const TimeData *b = time_peek(mrb, other);
    if (!b) return time_shift(mrb, self, other, -1);
    const TimeData *a = time_get(mrb, self);
    int64_t dsec;
    const double whole = __builtin_sub_overflow(a->sec, b->sec, &dsec) ? (double)a->sec - (double)b->sec
                                                                       : (double)dsec;
    return mrb_float_value(mrb, whole + (double)(a->usec - b->usec) / 1e6);
}

static mrb_value time_to_s(mrb_state *mrb, mrb_value self)
{
    const TimeData *t = time_get(mrb, self);
    char buf[96];
    const char *fmt = t->zone == TIME_ZONE_UTC ? "%Y-%m-%d %H:%M:%S UTC" : "%Y-%m-%d %H:%M:%S %z";
    const size_t len = strftime(buf, sizeof(buf), fmt, &t->fields);
    return mrb_str_new(mrb, buf, (mrb_int)len);
}

static mrb_value time_asctime(mrb_state *mrb, mrb_value self)
{
    const TimeData *t = time_get(mrb, self);
    const struct tm *tm = &t->fields;
    char buf[96];
    const int len = snprintf(buf, sizeof(buf), "%s %s %2d %02d:%02d:%02d %.4lld", time_day_names[tm->tm_wday],
                             time_month_names[tm->tm_mon], tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec,
                             tm->tm_year + 1900LL);
    return mrb_str_new(mrb, buf, len < 0 ? 0 : (mrb_int)len);
}

static mrb_value time_year(mrb_state *mrb, mrb_value self)
{
    return mrb_int_value(mrb, (mrb_int)time_get(mrb, self)->fields.tm_year + 1900);
}

static mrb_value time_mon(mrb_state *mrb, mrb_value self)
{
    return mrb_fixnum_value(time_get(mrb, self)->fields.tm_mon + 1);
}

static mrb_value time_mday(mrb_state *mrb, mrb_value self)
{
    return mrb_fixnum_value(time_get(mrb, self)->fields.tm_mday);
}

static mrb_value time_hour(mrb_state *mrb, mrb_value self)
{
    return mrb_fixnum_value(time_get(mrb, self)->fields.tm_hour);
}

static mrb_value time_min(mrb_state *mrb, mrb_value self)
{
    return mrb_fixnum_value(time_get(mrb, self)->fields.tm_min);
}

static mrb_value time_sec(mrb_state *mrb, mrb_value self)
{
    return mrb_fixnum_value(time_get(mrb, self)->fields.tm_sec);
}

static mrb_value time_wday(mrb_state *mrb, mrb_value self)
{
    return mrb_fixnum_value(time_get(mrb, self)->fields.tm_wday);
}

static mrb_value time_yday(mrb_state *mrb, mrb_value self)
{
    return mrb_fixnum_value(time_get(mrb, self)->fields.tm_yday + 1);
}

static mrb_value time_usec(mrb_state *mrb, mrb_value self)
{
    return mrb_int_value(mrb, (mrb_int)time_get(mrb, self)->usec);
}

static mrb_value time_to_i(mrb_state *mrb, mrb_value self)
{
    return mrb_int_value(mrb, (mrb_int)time_get(mrb, self)->sec);
}

static mrb_value time_to_f(mrb_state *mrb, mrb_value self)
{
    const TimeData *t = time_get(mrb, self);
    return mrb_float_value(mrb, (double)t->sec + (double)t->usec / 1e6);
}

static mrb_value time_utc_offset(mrb_state *mrb, mrb_value self)
{
    const TimeData *t = time_get(mrb, self);
    return mrb_int_value(mrb, t->zone == TIME_ZONE_UTC ? 0 : (mrb_int)t->fields.tm_gmtoff);
}

static mrb_value time_dst_p(mrb_state *mrb, mrb_value self)
{
    return mrb_bool_value(time_get(mrb, self)->fields.tm_isdst > 0);
}

static mrb_value time_utc_p(mrb_state *mrb, mrb_value self)
{
    return mrb_bool_value(time_get(mrb, self)->zone == TIME_ZONE_UTC);
}

static mrb_value time_zone(mrb_state *mrb, mrb_value self)
{
    return mrb_str_new_cstr(mrb, time_get(mrb, self)->zone_name);
}

static mrb_value time_get_in_zone(mrb_state *mrb, mrb_value self, int zone)
{
    const TimeData *t = time_get(mrb, self);
    return time_make(mrb, mrb_obj_class(mrb, self), t->sec, t->usec, zone, self);
}

static mrb_value time_getutc(mrb_state *mrb, mrb_value self)
{
    return time_get_in_zone(mrb, self, TIME_ZONE_UTC);
}

static mrb_value time_getlocal(mrb_state *mrb, mrb_value self)
{
    return time_get_in_zone(mrb, self, TIME_ZONE_LOCAL);
}

// Switches self to zone in place.
static mrb_value time_set_zone(mrb_state *mrb, mrb_value self, int zone)
{
    TimeData *t = time_get(mrb, self);
    if (t->zone == zone) return self;
    mrb_check_frozen(mrb, mrb_obj_ptr(self));
    TimeData next = *t;
    next.zone = zone;
    if (!time_break_down(&next)) time_raise_range(mrb, mrb_int_value(mrb, (mrb_int)t->sec));
    *t = next;
    return self;
}

static mrb_value time_utc(mrb_state *mrb, mrb_value self)
{
    return time_set_zone(mrb, self, TIME_ZONE_UTC);
}

static mrb_value time_localtime(mrb_state *mrb, mrb_value self)
{
    return time_set_zone(mrb, self, TIME_ZONE_LOCAL);
}

extern "C" void mrb_moonforge_time_gem_init(mrb_state *mrb)
{
    struct RClass *tc = mrb_define_class(mrb, "Time", mrb->object_class);
    MRB_SET_INSTANCE_TT(tc, MRB_TT_DATA);
    mrb_include_module(mrb, tc, mrb_module_get(mrb, "Comparable"));

    mrb_define_class_method(mrb, tc, "at", time_s_at, MRB_ARGS_ARG(1, 1));
    mrb_define_class_method(mrb, tc, "gm", time_s_gm, MRB_ARGS_ARG(1, 6));
    mrb_define_class_method(mrb, tc, "utc", time_s_gm, MRB_ARGS_ARG(1, 6));
    mrb_define_class_method(mrb, tc, "local", time_s_local, MRB_ARGS_ARG(1, 6));
    mrb_define_class_method(mrb, tc, "mktime", time_s_local, MRB_ARGS_ARG(1, 6));
    mrb_define_class_method(mrb, tc, "now", time_s_now, MRB_ARGS_NONE());

    mrb_define_method(mrb, tc, "initialize", time_initialize, MRB_ARGS_OPT(7));
    mrb_define_method(mrb, tc, "initialize_copy", time_initialize_copy, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, tc, "==", time_eq, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, tc, "eql?", time_eq, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, tc, "hash", time_hash, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "<=>", time_cmp, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, tc, "+", time_plus, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, tc, "-", time_minus, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, tc, "to_s", time_to_s, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "inspect", time_to_s, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "asctime", time_asctime, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "ctime", time_asctime, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "year", time_year, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "mon", time_mon, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "month", time_mon, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "day", time_mday, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "mday", time_mday, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "hour", time_hour, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "min", time_min, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "sec", time_sec, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "wday", time_wday, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "yday", time_yday, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "usec", time_usec, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "to_i", time_to_i, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "to_f", time_to_f, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "utc_offset", time_utc_offset, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "dst?", time_dst_p, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "utc?", time_utc_p, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "gmt?", time_utc_p, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "zone", time_zone, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "getutc", time_getutc, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "getgm", time_getutc, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "getlocal", time_getlocal, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "utc", time_utc, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "gmtime", time_utc, MRB_ARGS_NONE());
    mrb_define_method(mrb, tc, "localtime", time_localtime, MRB_ARGS_NONE());
}

extern "C" void mrb_moonforge_time_gem_final(mrb_state *mrb)
{
    (void)mrb;
}
