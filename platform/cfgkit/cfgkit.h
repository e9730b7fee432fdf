#ifndef CFGKIT_H
#define CFGKIT_H
/* Durable whole-file replacement for the device's configuration files. */
#include <glib.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Replaces the file at `path` with the `length` bytes at `contents`, owned by `owner`:`group`
 * with permission bits `mode`, and syncs file and directory to storage. BLOCKS on storage.
 *
 * The new contents appear at once and whole: readers see either the old file or the new one,
 * never a partial, empty or missing file, also across a power cut after a non-zero return.
 *
 * Returns non-zero when the file holds the contents. Returns zero on failure and, when `error`
 * is not NULL, sets *error to a G_FILE_ERROR record whose message names the path and the system
 * error; the old file is then left as it was and no temporary file remains (one left by a writer
 * that was killed mid-way is removed by the next call for the same path). The caller releases
 * the record with g_clear_error. The one exception is a failed sync of the directory after the
 * rename: the new contents are then in place but may not survive a power cut, and the result is
 * still zero.
 */
int cfgkit_set_file_contents_with_sync_full(const char* path, const char* contents, gsize length, uid_t owner,
                                            gid_t group, mode_t mode, GError** error);

#ifdef __cplusplus
}
#endif

#endif /* CFGKIT_H */
