#include "app/tokenexp.h"

#include <cstdio>

int tokenexp_main(int argc, char **argv)
{
	(void)argc;
	(void)argv;
	std::fputs("not built yet\n", stderr);
	return 1;
}
