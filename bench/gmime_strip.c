/* GMime 3 doing clipsum's job: parses each message, keeps its first
   text/plain part as the message's body and writes the message (CR LF) to
   standard output. Usage: gmime_strip FILE|DIRECTORY... */
#include <dirent.h>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static void RememberFirstText(GMimeObject* parent, GMimeObject* part, gpointer data)
{
    (void)parent;
    GMimeObject** found = data;
    if (!*found && GMIME_IS_PART(part) &&
        g_mime_content_type_is_type(g_mime_object_get_content_type(part), "text", "plain"))
        *found = part;
}

static int Strip(const char* path, GMimeStream* out, GMimeFormatOptions* format)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return 0;
    GMimeStream* stream = g_mime_stream_fs_new(fd);
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, NULL);
    int ok = message != NULL;
    if (message) {
        GMimeObject* text = NULL;
        g_mime_message_foreach(message, RememberFirstText, &text);
        if (text && text != g_mime_message_get_mime_part(message)) {
            /* The multipart that holds it goes with the message's old part. */
            g_object_ref(text);
            g_mime_message_set_mime_part(message, text);
            g_object_unref(text);
        }
        ok = g_mime_object_write_to_stream(GMIME_OBJECT(message), format, out) >= 0;
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return ok;
}

int main(int argc, char** argv)
{
    g_mime_init();
    GMimeFormatOptions* format = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
    GMimeStream* out = g_mime_stream_buffer_new(g_mime_stream_pipe_new(dup(1)), GMIME_STREAM_BUFFER_BLOCK_WRITE);
    int ok = 1;
    for (int i = 1; i < argc && ok; ++i) {
        DIR* directory = opendir(argv[i]);
        if (!directory) {
            ok = Strip(argv[i], out, format);
            continue;
        }
        char path[4096];
        for (struct dirent* entry; ok && (entry = readdir(directory)) != NULL;) {
            if (entry->d_name[0] == '.')
                continue;
            snprintf(path, sizeof path, "%s/%s", argv[i], entry->d_name);
            ok = Strip(path, out, format);
        }
        closedir(directory);
    }
    g_mime_stream_flush(out);
    g_object_unref(out);
    g_mime_format_options_free(format);
    return ok ? 0 : 1;
}
