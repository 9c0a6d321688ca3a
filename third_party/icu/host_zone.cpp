// Debian's static ICU is built as position-independent executable code: its host time zone probe
// reads glibc's `timezone` and `tzname` directly, which a shared object cannot. The archive copy
// the project links reads these instead. The project never asks ICU for the host's time zone (it
// links no ICU calendar or time zone code), so they only have to exist; they say UTC.
extern "C" {
__attribute__((visibility("hidden"))) long quarn_icu_host_timezone = 0;
__attribute__((visibility("hidden"))) char quarn_icu_host_zone_name[] = "UTC";
__attribute__((visibility("hidden"))) char* quarn_icu_host_tzname[2] = {quarn_icu_host_zone_name,
                                                                        quarn_icu_host_zone_name};
}
