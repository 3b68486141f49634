// An integer library that has mp_exptmod but not the converters the program
// reads its numbers with (as a libtommath that dropped the old names would
// be): the known-answer test must say so and leave every power to it. Its
// mp_exptmod answers MP_VAL to everything, which shows that a call reached it;
// the rest are never called.
extern "C" {
int mp_exptmod(const void*, const void*, const void*, void*) { return -3; }
int mp_unsigned_bin_size(const void*) { return 0; }
int mp_read_unsigned_bin(void*, const unsigned char*, int) { return -3; }
int mp_cmp_d(const void*, unsigned long) { return 0; }
int mp_init(void*) { return -3; }
void mp_clear(void*) {}
}
