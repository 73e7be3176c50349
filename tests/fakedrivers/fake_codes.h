/* Codes the exporting fake driver answers, shared with the tests that check them. */
#ifndef OVRIN_TESTS_FAKE_CODES_H
#define OVRIN_TESTS_FAKE_CODES_H

#define FAKE_CODE_BASE 0x0B000000u
#define FAKE_EXTRA_CODE_BASE 0x0B001000u

#endif
