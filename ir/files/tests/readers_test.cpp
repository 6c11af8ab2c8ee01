// SPDX-License-Identifier: MIT
// Each reader on text as the format's own tools write it, and on text they would refuse: one
// table, each row a file and what it holds (keys and their decodes or timings) or the error
// it gives (which names the file and the line).
#include <gtest/gtest.h>

#include <string>

#include "ir/files.h"
#include "ir/pronto.h"

namespace {

using namespace ir::files;

// "REMOTE/KEY=DECODE" per key (or its timings when short and undecoded, or its note).
std::string summary(CodeFile file) {
    decode_keys(file);
    std::string out;
    for (const Remote &r : file.remotes) {
        for (const Key &k : r.keys) {
            auto timings = [](const std::vector<ir::Burst> &part) {
                std::string t;
                for (const ir::Burst &b : part) {
                    t += (t.empty() ? "" : " ") + std::to_string(b.on_us) + " " +
                         std::to_string(b.off_us);
                }
                return t;
            };
            std::string what;
            if (k.decode) {
                what = k.decode->text();
            } else if (k.has_signal()) {
                what = timings(k.signal.once);
                if (!k.signal.repeat.empty()) {
                    what += (what.empty() ? "| " : " | ") + timings(k.signal.repeat);
                }
                what += " @" + std::to_string(long(k.signal.carrier_hz));
            } else {
                what = "(" + k.note + ")";
            }
            out += (out.empty() ? "" : "; ") + r.name + "/" + k.name + "=" + what;
        }
    }
    return out;
}

struct Case {
    Format format;
    std::string text;
    std::string want;  // the summary, or "error: " and the start of the message after the name
};

std::string nested(const std::string &open, const std::string &close, int depth) {
    std::string s = "1";
    for (int i = 0; i < depth; ++i) {
        s = open + s + close;
    }
    return s;
}

// NEC1 D=4 S=251 F=8 as Pronto text, as the codec writes it.
std::string nec_pronto() {
    return ir::encode_pronto(ir::protocols::encode("NEC1 D=4 F=8").signal).text;
}

const std::vector<Case> &cases() {
    static const std::vector<Case> kCases = {
        // lircd.conf as irrecord writes it; a key named "#"; REVERSE; raw codes.
        {Format::Lircd,
         "# comment\nbegin remote\n  name tv\n  bits 16\n  flags SPACE_ENC|CONST_LENGTH\n"
         "  header 9000 4500\n  one 560 1690\n  zero 560 560\n  ptrail 560\n  repeat 9000 2250\n"
         "  pre_data_bits 16\n  pre_data 0x20DF\n  gap 108000\n  begin codes\n"
         "    KEY_POWER 0x10EF # the power key\n    #  0x08F7\n  end codes\nend remote\n",
         "tv/KEY_POWER=NEC1 D=4 S=251 F=8; tv/#=NEC1 D=4 S=251 F=16"},
        {Format::Lircd,
         "begin remote\n name r\n bits 8\n flags SPACE_ENC|REVERSE\n one 500 1500\n zero 500 500\n"
         " ptrail 500\n gap 20000\n begin codes\n  a 0x01\n end codes\nend remote\n",
         "r/a=| 500 1500 500 500 500 500 500 500 500 500 500 500 500 500 500 500 500 20000 @38000"},
        {Format::Lircd,
         "begin remote\n name r\n flags RAW_CODES\n gap 30000\n frequency 36000\n begin raw_codes\n"
         "  name one\n   100 200\n   300\n end raw_codes\nend remote\n",
         "r/one=| 100 200 300 30000 @36000"},
        {Format::Lircd,
         "begin remote\n name hw\n bits 16\n one 0 0\n zero 0 0\n gap 1000\n begin codes\n"
         "  k 0x1234\n end codes\nend remote\n",
         "hw/k=(no timings: the remote gives no bit lengths, only code 0x1234)"},
        {Format::Lircd, "begin remote\n name r\n flags SPACE_ENC|FANCY\n",
         "error: 3: unknown flag 'FANCY'"},
        {Format::Lircd, "begin remote\n name r\n flags RC5|RC6\n",
         "error: 3: more than one protocol"},
        {Format::Lircd, "begin remote\n name r\n bits 16\n begin codes\n  a 0x1\n",
         "error: 5: the file ends inside remote 'r'"},
        {Format::Lircd,
         "begin remote\n name r\n begin raw_codes\n  name a\n  100 200\n end raw_codes\n",
         "error: 6: a: 2 durations, an odd number"},
        {Format::Lircd, "  begin codes\n", "error: 1: begin codes outside a remote"},
        {Format::Lircd,
         "begin remote\n name r\n bits 40\n pre_data_bits 30\n begin codes\n end codes\nend "
         "remote\n",
         "error: 1: remote r: pre_data_bits + bits + post_data_bits is 70"},
        {Format::Lircd, "begin remote\n name r\n gap 0x\n", "error: 3: '0x' is not a number"},
        {Format::Lircd, "include \"other.conf\"\n",
         "error: 1: include 'other.conf': includes are followed"},
        {Format::Lircd, "begin remote\n  wibble 3\n", "error: 2: unknown parameter 'wibble'"},
        // Flipper: the firmware's names and byte dumps.
        {Format::Flipper,
         "Filetype: IR signals file\nVersion: 1\n#\nname: Power\ntype: parsed\nprotocol: NEC\n"
         "address: 04 00 00 00\ncommand: 08 00 00 00\n#\nname: Vol\ntype: parsed\nprotocol: "
         "SIRC20\n"
         "address: 0A 01 00 00\ncommand: 12 00 00 00\n#\nname: Ch\ntype: parsed\nprotocol: NECext\n"
         "address: 04 FB 00 00\ncommand: 08 F7 00 00\n#\nname: Wide\ntype: parsed\nprotocol: "
         "NECext\n"
         "address: 04 05 00 00\ncommand: 08 07 00 00\n",
         "tv/Power=NEC1 D=4 S=251 F=8; tv/Vol=Sony20 D=10 S=8 F=18; tv/Ch=NEC1 D=4 S=251 F=8; "
         "tv/Wide=NEC1-f16 D=4 S=5 F=1800"},
        {Format::Flipper,
         "Filetype: IR signals file\nVersion: 1\n#\nname: A\ntype: raw\nfrequency: 36000\n"
         "duty_cycle: 0.500000\ndata: 100 200 300\n",
         "tv/A=100 200 300 120000 @36000"},
        {Format::Flipper,
         "Filetype: IR signals file\nVersion: 1\n#\nname: Far\ntype: parsed\nprotocol: RC6\n"
         "address: F3 3F 00 00\ncommand: 01 00 00 00\n",
         "tv/Far=(RC6 address F3 3F 00 00 or command 01 00 00 00 is out of range)"},
        {Format::Flipper, "name: A\n", "error: 1: not a Flipper infrared file"},
        {Format::Flipper,
         "Filetype: IR signals file\nVersion: 1\nname: A\ntype: parsed\nprotocol: NEC\n",
         "error: 3: A: a parsed entry needs"},
        {Format::Flipper,
         "Filetype: IR signals file\nVersion: 1\nname: A\ntype: parsed\nprotocol: NEC\naddress: 4\n"
         "command: 08 00 00 00\n",
         "error: 6: '4' is not a hex byte"},
        {Format::Flipper,
         "Filetype: IR signals file\nVersion: 1\nname: A\ntype: raw\nfrequency: 38000\ndata: 1 x\n",
         "error: 6: 'x' is not a duration"},
        // Broadlink: 16, 32, 300 (0x00 0x01 0x2c), 16 and 3333 ticks of 32.84 µs.
        {Format::Broadlink,
         "{\"data\": {\"tv\": {\"power\": \"JgAJABAgAAEsEAANBQAAAA==\"}}, \"version\": 1}",
         "tv/power=525 1051 9852 525 109456 120000 @38000"},
        {Format::Broadlink,
         "{\"commands\": {\"off\": \"b64:JgAJABAgAAEsEAANBQAAAA==\", \"cool\": {\"18\": "
         "[\"JgAJABAgAAEsEAANBQAAAA==\"]}}}",
         "tv/off=525 1051 9852 525 109456 120000 @38000; tv/cool/18=525 1051 9852 525 109456 "
         "120000 @38000"},
        {Format::Broadlink, "tv/up: JgAJABAgAAEsEAANBQAAAA==\n",
         "tv/up=525 1051 9852 525 109456 120000 @38000"},
        {Format::Broadlink, "sgACAAUF\n",
         "error: 1: packet type 0xB2 is not IR (0x26): a radio code"},
        {Format::Broadlink, "{\"a\": \"JgAJABAgAAEsEAANBQAAAA==\",\n \"b\": \"JgD/ABAg\"}",
         "error: 2: b: the packet claims 255 bytes"},
        {Format::Broadlink, "{\"a\": [1, 2,\n", "error: 2: a value expected at the end"},
        {Format::Broadlink, nested("{\"a\": ", "}", 40), "error: 1: nested more than 32 deep"},
        {Format::Broadlink, "{\"a\":\n{", "error: 2: a string expected"},
        // String escapes in names: JSON's and TOML's shared letters, \u, and TOML's refusals.
        {Format::Broadlink,
         "{\"data\": {\"t\\u0076\": {\"a\\\"b\\\\c\\td\": \"JgAJABAgAAEsEAANBQAAAA==\"}}}",
         "tv/a\"b\\c\td=525 1051 9852 525 109456 120000 @38000"},
        // Global Caché: 96, 24 | 48, 24, 24, 1000 periods at 40 kHz, sent twice from offset 3.
        {Format::GlobalCache, "sendir,1:1,1,40000,2,3,96,24,48,24,24,1000\n",
         "tv/1=2400 600 1200 600 600 25000 | 1200 600 600 25000 @40000"},
        {Format::GlobalCache, "tv/up: sendir,1:1,1,40000,1,1,96,24,48,1000\n",
         "tv/up=2400 600 1200 25000 @40000"},
        {Format::GlobalCache, "tv/up: sendir,1:1,1,40000,1,1,96,24,48\n", "error: 1: 3 durations"},
        {Format::GlobalCache, "sendir,1:1,1,400,1,1,96,24\n", "error: 1: frequency '400' is not"},
        {Format::GlobalCache, "\nsendir,1:1,1,40000,1,2,96,24,10,10\n",
         "error: 2: offset 2 is not an on time"},
        // IRremote as its ReceiveDump example prints it.
        {Format::IRremote,
         "uint16_t rawData[3] = {9000,4500, 560};  // Protocol=UNKNOWN\n"
         "// tv/mute: a comment\nconst uint16_t m[] = {\n  100, 200,\n  300 };  // 36 kHz\n",
         "tv/rawData=9000 4500 560 120000 @38000; tv/mute=100 200 300 120000 @36000"},
        {Format::IRremote, "uint16_t a[2] = {1, x};\n", "error: 1: 'x' is not a duration"},
        {Format::IRremote, "uint16_t a[] = {\n 1, 2,\n", "error: 1: an array without its closing"},
        // Raw and mode2: one key a line or a capture over lines; blocks of mode2 named by comments.
        {Format::Raw, "tv/power: +9024 -4512 +564 -40000\n\n+100 -200\n+300\n",
         "tv/power=9024 4512 564 40000 @38000; tv/1=100 200 300 120000 @38000"},
        {Format::Raw, "up: +9024 x\n", "error: 1: word 2: 'x' is not a duration"},
        {Format::Mode2, "carrier 36000\npulse 100\nspace 200\npulse 300\ntimeout 125000\n",
         "tv/1=100 200 300 125000 @36000"},
        {Format::Mode2,
         "# name: tv/a\npulse 100\nspace 200\n# name: tv/b\npulse 5\nspace 6\npulsar 12\n",
         "error: 7: 'pulsar 12' is not pulse"},
        // ir-keytable keymaps: kernel protocols, raw keys, a BPF pulse_distance protocol.
        {Format::Keymap,
         "[[protocols]]\nname = 'tv'\nprotocol = 'nec'\n[protocols.scancodes]\n0x0408 = "
         "'KEY_POWER'\n"
         "0x123456 = \"KEY_UP\" # necx\n[[protocols]]\nname = 'tv'\nprotocol = "
         "'raw'\n[[protocols.raw]]\n"
         "keycode = 'KEY_A'\nraw = '+100 -200 +300'\n[[protocols.raw]]\nkeycode = 'KEY_B'\nraw = "
         "[\n  100, -200,\n  300 ]\n",
         "tv/KEY_POWER=NEC1 D=4 S=251 F=8; tv/KEY_UP=NEC1 D=18 S=52 F=86; tv/KEY_A=100 200 300 "
         "120000 @38000; "
         "tv/KEY_B=100 200 300 120000 @38000"},
        {Format::Keymap,
         "[[protocols]]\nname = 'dish'\nprotocol = 'pulse_distance'\nheader_pulse = "
         "5000\nheader_space = 2500\n"
         "bits = 2\nbit_pulse = 700\nbit_1_space = 1700\nbit_0_space = 3000\ntrailer_pulse = 700\n"
         "[protocols.scancodes]\n0x2 = 'KEY_TV'\n[[protocols]]\nname = 'hw'\nprotocol = 'unknown'\n"
         "[protocols.scancodes]\n0x10 = 'KEY_X'\n",
         "dish/KEY_TV=| 5000 2500 700 1700 700 3000 700 125000 @38000; hw/KEY_X=(no timings: "
         "protocol "
         "'unknown' is decoded by receivers, not known here)"},
        {Format::Keymap,
         "[[protocols]]\nname = \"t\\u0076\"\nprotocol = 'nec'\n[protocols.scancodes]\n"
         "0x0408 = \"K\\\"\\\\\\U00000041\\n\"\n",
         "tv/K\"\\A\n=NEC1 D=4 S=251 F=8"},
        {Format::Keymap, "[[protocols]]\nname = \"a\\qb\"\n", "error: 2: unknown escape '\\q'"},
        {Format::Keymap,
         "[[protocols]]\nprotocol = 'nec'\n[protocols.scancodes]\n0x1 = 'A'\n0x01 = 'B'\n",
         "error: 5: scancode 0x01 appears twice (line 4)"},
        {Format::Keymap,
         "[[protocols]]\nprotocol = 'raw'\n[[protocols.raw]]\nkeycode = 'A'\nraw = [1, 2,\n",
         "error: 6: a value expected"},
        {Format::Keymap, "a = " + nested("[", "]", 40) + "\n",
         "error: 1: nested more than 32 deep"},
        // Pronto: pronto2lirc's "NAME:CODE" lines, codes going on over lines.
        {Format::Pronto, "power:" + nec_pronto() + "\n", "tv/power=NEC1 D=4 S=251 F=8"},
        {Format::Pronto,
         "# codes\n" + nec_pronto().substr(0, 100) + "\n" + nec_pronto().substr(100) + "\n\n" +
             "900A 006C 0000 0001 04FB 08F7\n",
         "tv/1=NEC1 D=4 S=251 F=8; tv/2=NEC1 D=4 S=251 F=8"},
        {Format::Pronto, "a: 0000 006C 0000 0001 015G 00AD\n",
         "error: 1: word 5: '015G' is not hexadecimal"},
    };
    return kCases;
}

TEST(Readers, ReadWhatTheirToolsWriteAndRefuseTheRestNamingTheLine) {
    for (const Case &c : cases()) {
        const ReadResult r = read(c.text, c.format, "tv.txt");
        const std::string got = r.ok() ? summary(r.file) : "error: " + r.error;
        const std::string want =
            c.want.rfind("error: ", 0) == 0 ? "error: tv.txt:" + c.want.substr(7) : c.want;
        EXPECT_EQ(got.substr(0, want.size()), want) << info(c.format).name << "\n" << c.text;
    }
}

// Any format: a NUL byte is binary data, a line past kMaxLineChars is refused, and both say
// where.
TEST(Readers, BinaryAndEndlessLinesAreRefusedWithTheirLine) {
    for (const FormatInfo &f : formats()) {
        const ReadResult binary = read(std::string("\n\nab\0cd", 7), f.format, "x");
        EXPECT_EQ(binary.error, "x:3: binary data (a NUL byte)") << f.name;
        const ReadResult endless = read("\n" + std::string(kMaxLineChars + 10, '1'), f.format, "x");
        EXPECT_FALSE(endless.ok()) << f.name;
        EXPECT_EQ(endless.error.rfind("x:2: ", 0), 0u) << f.name << ": " << endless.error;
    }
}

}  // namespace
