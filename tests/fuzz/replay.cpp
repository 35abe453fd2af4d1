/* Runs a fuzz target once on every file of the folders (or files) it is
 * given, the way libFuzzer replays a corpus, so that the checked-in corpus is
 * a regression test of every build and compiler, not only of the clang fuzz
 * build. A failed check aborts, which fails the test. */
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int                       LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
	std::vector<std::filesystem::path> inputs;
	for (int i = 1; i < argc; i++) {
		if (std::filesystem::is_directory(argv[i])) {
			for (const auto &e : std::filesystem::directory_iterator(argv[i]))
				inputs.push_back(std::filesystem::absolute(e.path()));
		} else {
			inputs.push_back(std::filesystem::absolute(argv[i]));
		}
	}
	/* After the inputs are found: a target may change the working directory. */
	if (LLVMFuzzerInitialize != nullptr)
		LLVMFuzzerInitialize(&argc, &argv);
	for (const auto &p : inputs) {
		std::ifstream              in(p, std::ios::binary);
		std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
		if (!in.good() && !in.eof()) {
			std::fprintf(stderr, "cannot read %s\n", p.string().c_str());
			return 1;
		}
		LLVMFuzzerTestOneInput(data.data(), data.size());
	}
	std::printf("%zu inputs\n", inputs.size());
	return inputs.empty() ? 1 : 0;
}
