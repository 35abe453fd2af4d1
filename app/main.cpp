/* Entry point of quorvel_tokenexp. The run itself lives in tokenexp.cpp. */
#include "app/tokenexp.h"

int main(int argc, char **argv)
{
	return tokenexp_main(argc, argv);
}
