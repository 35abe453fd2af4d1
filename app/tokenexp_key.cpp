/* Export key entry and conversion. */
#include "app/tokenexp_key.h"

#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace {

/* Terminal mode saved before echo is turned off. The signal handlers read it,
 * so it lives in static storage and is written before they are installed. */
struct termios   g_saved_mode;
volatile sig_atomic_t g_echo_off = 0;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_old_actions[sizeof(kSignals) / sizeof(kSignals[0])];

/* A signal at the prompt: put echo back, then let the signal do what it
 * would have done (the previous disposition, normally ending the process). */
void restore_on_signal(int sig)
{
	if (g_echo_off) {
		tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
		g_echo_off = 0;
	}
	for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); i++) {
		if (kSignals[i] == sig)
			sigaction(sig, &g_old_actions[i], nullptr);
	}
	raise(sig);
}

bool echo_off()
{
	if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_saved_mode) != 0)
		return false;

	struct sigaction sa;
	std::memset(&sa, 0, sizeof(sa));
	sa.sa_handler = restore_on_signal;
	sigemptyset(&sa.sa_mask);
	for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); i++)
		sigaction(kSignals[i], &sa, &g_old_actions[i]);

	struct termios mode = g_saved_mode;
	mode.c_lflag &= static_cast<tcflag_t>(~ECHO);
	g_echo_off = 1;
	tcsetattr(STDIN_FILENO, TCSANOW, &mode);
	return true;
}

void echo_restore(bool console)
{
	if (!console)
		return;
	tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
	g_echo_off = 0;
	for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); i++)
		sigaction(kSignals[i], &g_old_actions[i], nullptr);
}

} // namespace

M_bool tokenexp_read_key(char *key)
{
	const bool console = echo_off();

	M_fprintf(stderr, "Enter quorvel export key: ");
	fflush(stderr);

	if (std::fgets(key, TOKENEXP_KEY_LEN, stdin) == nullptr || key[0] == '\0') {
		M_mem_set(key, 0, TOKENEXP_KEY_LEN);
		M_fprintf(stderr, "\n");
		echo_restore(console);
		M_fprintf(stderr, "Couldn't read quorvel key entered by user.\n");
		return M_FALSE;
	}

	M_str_trim(key);
	M_fprintf(stderr, "\n");
	echo_restore(console);
	return M_TRUE;
}

const EVP_CIPHER *tokenexp_key_cipher(size_t key_len)
{
	switch (key_len) {
		case 16:
			return EVP_aes_128_cbc();
		case 24:
			return EVP_aes_192_cbc();
		case 32:
			return EVP_aes_256_cbc();
		default:
			return nullptr;
	}
}

const EVP_CIPHER *tokenexp_key_convert(M_buf_t *buf, const char *key, char *err, size_t errlen)
{
	M_buf_truncate(buf, 0);
	if (!M_buf_add_bytes_hex(buf, key)) {
		M_snprintf(err, errlen, "given quorvel key was incorrectly formatted, couldn't convert from hex to binary");
		return nullptr;
	}
	const EVP_CIPHER *cipher = tokenexp_key_cipher(M_buf_len(buf));
	if (cipher != nullptr)
		return cipher;
	M_snprintf(err, errlen, "unsupported quorvel key size: %llu bits (expected 128, 192 or 256 bits)",
	           static_cast<unsigned long long>(M_buf_len(buf)) * 8);
	return nullptr;
}
