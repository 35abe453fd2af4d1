/* Formatted output engine (first cut: entry points only; the interpreter
 * follows). */
#include "core/m_str_fmt.h"

extern "C" {

ssize_t M_vfprintf(FILE *stream, const char *fmt, va_list ap)
{
	(void)stream; (void)fmt; (void)ap;
	return -1;
}

ssize_t M_fprintf(FILE *stream, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vfprintf(stream, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vprintf(const char *fmt, va_list ap)
{
	return M_vfprintf(stdout, fmt, ap);
}

ssize_t M_printf(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vfprintf(stdout, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vmdprintf(M_fs_file_t *fd, const char *fmt, va_list ap)
{
	(void)fd; (void)fmt; (void)ap;
	return -1;
}

ssize_t M_mdprintf(M_fs_file_t *fd, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vmdprintf(fd, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vdprintf(int fd, const char *fmt, va_list ap)
{
	(void)fd; (void)fmt; (void)ap;
	return -1;
}

ssize_t M_dprintf(int fd, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vdprintf(fd, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vsnprintf(char *buf, size_t size, const char *fmt, va_list ap)
{
	(void)fmt; (void)ap;
	if (buf != nullptr && size > 0)
		buf[0] = '\0';
	return 0;
}

ssize_t M_snprintf(char *buf, size_t size, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vsnprintf(buf, size, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vbprintf(M_buf_t *buf, const char *fmt, va_list ap)
{
	(void)buf; (void)fmt; (void)ap;
	return 0;
}

ssize_t M_bprintf(M_buf_t *buf, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vbprintf(buf, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vasprintf(char **out, const char *fmt, va_list ap)
{
	(void)fmt; (void)ap;
	if (out != nullptr)
		*out = nullptr;
	return 0;
}

ssize_t M_asprintf(char **out, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vasprintf(out, fmt, ap);
	va_end(ap);
	return r;
}

} /* extern "C" */
