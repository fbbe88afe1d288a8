/* Works the file service through the SDK at start-up and leaves the result
 * of every step, in order, as 32-bit words in the file "probe/results.bin". */
#include <tarvel/tarvel.h>

static int32_t results[40];
static uint32_t count;

static void note(int32_t value) {
    if (count < sizeof results / sizeof results[0]) results[count++] = value;
}

void tv_app_main(void) {
    static const char saved[] = "lane runner";
    char back[16] = {0};

    note(tv_file_mkdir("Probe\\Saves"));                       /* 0 */
    int32_t f = tv_file_open("probe/saves/SLOT1.dat", "w");
    note(f);                                                   /* 0 */
    note(tv_file_write(f, saved, sizeof saved - 1));           /* 11 */
    note(tv_file_seek(f, 20, TV_SEEK_SET));                    /* 20 */
    note(tv_file_write(f, "!", 1));                            /* 1 */
    note(tv_file_size(f));                                     /* 21 */
    note(tv_file_read(f, back, 4));                            /* -1: "w" does not read */
    note(tv_file_close(f));                                    /* 0 */

    f = tv_file_open("PROBE/saves/slot1.DAT", "r");
    note(f);                                                   /* 0 */
    note(tv_file_read(f, back, 5));                            /* 5 */
    note(back[0] == 'l' && back[4] == ' ');                    /* 1 */
    note(tv_file_seek(f, -1, TV_SEEK_END));                    /* 20 */
    note(tv_file_read(f, back, 8));                            /* 1 */
    note(back[0] == '!');                                      /* 1 */
    note(tv_file_seek(f, -1, TV_SEEK_SET));                    /* -1 */
    note(tv_file_tell(f));                                     /* 21 */

    note(tv_file_rename("probe/saves/slot1.dat", "probe/best.dat")); /* 1 */
    note(tv_file_tell(f));                                     /* 21: the handle follows */
    note(tv_file_exists("probe/saves/slot1.dat"));             /* 0 */
    note(tv_file_is_directory("probe/saves"));                 /* 1 */
    note(tv_file_is_directory("probe/sav"));                   /* 0 */
    note(tv_file_open("../outside", "w"));                     /* -1 */
    note(tv_file_delete("probe/best.dat"));                    /* 1 */
    note(tv_file_size(f));                                     /* -1 */
    note(tv_file_close(f));                                    /* 0 */
    note((int32_t)tv_file_free_space());                       /* 0x01000000: nothing stored now */

    f = tv_file_open("probe/results.bin", "w");
    tv_file_write(f, results, count * sizeof results[0]);
    tv_file_close(f);
}
