/* Calls SDK service wrappers with recognisable arguments, so that the tests
 * can check that every wrapper reaches the right stub with its arguments in
 * the right registers and stack words. The pointers are only passed on. */
#include <tarvel/tarvel.h>

#define P1 TV_PTR(void *, 0x05000100u)
#define P2 TV_PTR(void *, 0x05000200u)
#define P3 TV_PTR(void *, 0x05000300u)

static void timer_callback(uint32_t argument) { (void)argument; }
static void net_callback(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { (void)a, (void)b, (void)c, (void)d; }

void __attribute__((noinline)) probe_services(void) {
    /* system.h */
    tv_system_entry(82, 0x1234);
    tv_clock_word(TV_CLOCK_HOUR);
    tv_interface_fill(2, P1);
    tv_interface_table_address(3);
    tv_interface_request(16, P1);
    tv_instruction_count();
    tv_platform_name(P1, 8);
    tv_reset_system_words();
    tv_device_id(P1, 16);
    tv_resource_directory_word();
    /* memory.h */
    tv_malloc(100);
    tv_free(P1);
    tv_arena_init(P1, 64);
    tv_arena_alloc(P1, 8);
    tv_arena_reset(P1);
    tv_arena_destroy(P1);
    tv_system_arena();
    tv_system_arena_alloc(32);
    /* draw.h */
    tv_fill_rect(-5, 6, 7, 8, 0x1234);
    tv_fill_rect_on(P1, 1, 2, 3, 4, 0x4321);
    tv_frame_rect_on(P1, 1, 2, 3, 4, 0x4321);
    tv_frame_rect(-1, 2, 3, 4, 0x0F0F);
    tv_fill_corners(tv_point(1, 2), tv_point(-3, 4), 0x00FF);
    tv_frame_corners(tv_point(1, 2), tv_point(3, 4), 0xFF00);
    tv_image_load(5, P2);
    tv_image_load_stream(P1, P2);
    tv_image_width(P2);
    tv_image_height(P2);
    tv_blit_on(P1, P2, 1, 2, 3, 4, 5, 6, 0);
    tv_blit_on(P1, P2, 1, 2, 3, 4, 5, 6, 1);
    tv_blit(P2, 1, 2, 3, 4, 5, 6, 0);
    tv_blit(P2, 1, 2, 3, 4, 5, 6, 1);
    tv_draw_image(P2, 10, -20, 0);
    tv_draw_image(P2, 10, 20, 1);
    tv_resource_table_select(0);
    tv_resource_table_select(1);
    tv_resource_tables_forget();
    tv_point_in_rect(5, 6, 1, 2, 3, 4);
    tv_pack_color(1, 2, 3);
    tv_decode_stream(P1);
    /* text.h */
    tv_text_width(P1);
    tv_draw_text(P1, 1, 2, 0xABCD);
    tv_set_text_origin(3, 4);
    tv_draw_text_at_origin(P1, 0xBEEF);
    tv_text_to_utf16(P1, P2, 8);
    /* input.h */
    tv_key_pressed(TV_KEY_MASK(TV_KEY_CONFIRM));
    tv_key_held(TV_KEY_MASK(TV_KEY_UP));
    tv_keys_pressed_mask();
    tv_pen_down();
    tv_pen_pressed();
    tv_pen_released();
    tv_pen_dragged();
    tv_pen_x();
    tv_pen_y();
    /* screen.h */
    tv_screen_push(P1);
    tv_screen_replace(P1);
    tv_screen_remove(P1);
    tv_screen_request_load(0);
    tv_screen_is_top(P1);
    tv_screen_is_bottom(P1);
    /* timer.h */
    tv_timer_start(1500, timer_callback, 7);
    tv_timer_stop(101);
    tv_uptime_ms();
    tv_clock_seconds();
    /* data.h */
    tv_resource_dir_init(P1, 4);
    tv_resource_dir_load(P1);
    tv_resource_dir_data(P1, P2);
    tv_resource_dir_data_at(P1, 3);
    tv_resource_dir_name(P1, 3);
    tv_resource_dir_find(P1, P2);
    tv_resource_dir_register(P1);
    tv_resource_dir_registered();
    tv_resource_data(P2);
    tv_resource_data_at(3);
    tv_resource_name(3);
    tv_resource_find(P2);
    /* file.h */
    tv_file_open(P1, P2);
    tv_file_close(3);
    tv_file_exists(P1);
    tv_file_is_directory(P1);
    tv_file_read(2, P3, 10);
    tv_file_write(2, P3, 10);
    tv_file_seek(2, -4, TV_SEEK_CUR);
    tv_file_tell(2);
    tv_file_size(2);
    tv_file_delete(P1);
    tv_file_rename(P1, P2);
    tv_file_mkdir(P1);
    tv_file_free_space();
    /* audio.h */
    tv_audio_volume(50);
    tv_audio_play_resource(3, 0);
    tv_audio_play_resource(3, 1);
    tv_audio_play_file(P1, 2);
    tv_audio_play_buffer(P1, 1);
    tv_audio_pause();
    tv_audio_resume();
    tv_audio_stop();
    tv_audio_state();
    /* strlib.h */
    tv_mem_copy(P1, P2, 5);
    tv_mem_fill(P1, 0x7F, 5);
    tv_mem_compare(P1, P2, 5);
    tv_str_length(P1);
    tv_str_copy(P1, P2);
    tv_str_copy_n(P1, P2, 5);
    tv_str_append(P1, P2);
    tv_str_compare(P1, P2);
    tv_str_compare_n(P1, P2, 5);
    tv_str_compare_nocase(P1, P2);
    tv_str_to_int(P1);
    tv_format(P1, P2, 11, 22, 33, 44);
    tv_wstr_length(P1);
    tv_wstr_copy(P1, P2);
    tv_wstr_from_text(P1, P2);
    tv_wstr_compare(P1, P2);
    /* util.h */
    tv_sin(30);
    tv_cos(-45);
    tv_angle(3, -4);
    tv_rects_overlap(1, 2, 3, 4, 5, 6, 7, 8);
    tv_str_equal(P1, P2);
    tv_cursor_read16(P1, P2);
    tv_cursor_read32(P1, P2);
    tv_cursor_write16(P1, P2, 0x55);
    tv_cursor_write32(P1, P2, 0x66);
    tv_cursor_read_string8(P1, P2);
    /* net.h */
    tv_net_open(net_callback, P2);
    tv_net_send(5, P1, 3);
    tv_net_close(5);
    tv_net_http(P1, net_callback, 9);
}
