#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <ferrolink/platform/PcapExtensions.h>
#include <ferrolink/platform/PcapTimedRead.h>

namespace flk = ferrolink::platform;

namespace {

TEST(PcapSourceStringTest, LocalFormsUpToTheLongestNameThatFits) {
    char source[flk::PCAP_BUF_SIZE];
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    ASSERT_EQ(0, flk::pcap_createsrcstr(source, flk::PCAP_SRC_IFLOCAL, "ignored", "2002", "eth1",
                                        errbuf));
    EXPECT_STREQ("rpcap://eth1", source);
    // "file://" takes 7 characters and the terminating zero one.
    const std::string fits(flk::PCAP_BUF_SIZE - 8, 'f');
    ASSERT_EQ(0, flk::pcap_createsrcstr(source, flk::PCAP_SRC_FILE, nullptr, nullptr, fits.c_str(),
                                        errbuf));
    EXPECT_EQ("file://" + fits, std::string(source));

    std::snprintf(source, sizeof(source), "untouched");
    EXPECT_EQ(-1, flk::pcap_createsrcstr(source, flk::PCAP_SRC_FILE, nullptr, nullptr,
                                         (fits + "x").c_str(), errbuf));
    EXPECT_STREQ("untouched", source);
    EXPECT_STRNE("", errbuf);
    // "rpcap://" is one longer, so the same name no longer fits.
    EXPECT_EQ(-1, flk::pcap_createsrcstr(source, flk::PCAP_SRC_IFLOCAL, nullptr, nullptr,
                                         fits.c_str(), errbuf));
}

TEST(PcapSourceStringTest, RemoteUnknownAndNamelessSourcesAreRefused) {
    char source[flk::PCAP_BUF_SIZE];
    char errbuf[PCAP_ERRBUF_SIZE];
    for (int type : {0, 1, 4, 5}) {
        errbuf[0] = '\0';
        EXPECT_EQ(-1, flk::pcap_createsrcstr(source, type, "host", "2002", "eth0", errbuf));
        EXPECT_STRNE("", errbuf) << type;
    }
    EXPECT_EQ(
        -1, flk::pcap_createsrcstr(source, flk::PCAP_SRC_FILE, nullptr, nullptr, nullptr, errbuf));
}

TEST(PcapOpenTest, CaptureFileMadeByTheLibraryReadsBackThroughItsFileSource) {
    const std::string path =
        ::testing::TempDir() + "flk_open_" + std::to_string(::getpid()) + ".pcap";
    std::vector<std::vector<u_char>> frames = {std::vector<u_char>(60, 0x11),
                                               std::vector<u_char>(1496),
                                               std::vector<u_char>{0xde, 0xad, 0xbe, 0xef}};
    for (std::size_t i = 0; i < frames[1].size(); ++i) frames[1][i] = static_cast<u_char>(i * 7);
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(nullptr, dumper) << pcap_geterr(dead);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<long>(100 + i);
        h.caplen = h.len = static_cast<bpf_u_int32>(frames[i].size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, frames[i].data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);

    char source[flk::PCAP_BUF_SIZE];
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    ASSERT_EQ(0, flk::pcap_createsrcstr(source, flk::PCAP_SRC_FILE, nullptr, nullptr, path.c_str(),
                                        errbuf));
    pcap_t* handle =
        flk::pcap_open(source, 65536, flk::PCAP_OPENFLAG_PROMISCUOUS, 1000, nullptr, errbuf);
    ASSERT_NE(nullptr, handle) << errbuf;
    EXPECT_EQ(DLT_EN10MB, pcap_datalink(handle));
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    ASSERT_EQ(1, flk::pcap_next_ex(handle, &header, &data));
    EXPECT_EQ(frames[0], std::vector<u_char>(data, data + header->caplen));
    // The rest through dispatch, in order, then the end of the file.
    std::vector<std::vector<u_char>> rest;
    const int handled = flk::pcap_dispatch(
        handle, -1,
        [](u_char* user, const pcap_pkthdr* h, const u_char* bytes) {
            reinterpret_cast<std::vector<std::vector<u_char>>*>(user)->emplace_back(
                bytes, bytes + h->caplen);
        },
        reinterpret_cast<u_char*>(&rest));
    EXPECT_EQ(2, handled);
    EXPECT_EQ(std::vector<std::vector<u_char>>(frames.begin() + 1, frames.end()), rest);
    EXPECT_EQ(PCAP_ERROR_BREAK, flk::pcap_next_ex(handle, &header, &data));
    flk::pcap_close(handle);
    std::remove(path.c_str());
}

TEST(PcapOpenTest, SourcesThatCannotBeOpenedGiveNullAndAReason) {
    const std::string missing =
        "file://" + ::testing::TempDir() + "flk_missing_" + std::to_string(::getpid());
    for (const char* source : {missing.c_str(), "file://", "rpcap://", "rpcap://10.1.2.3/eth0",
                               "rpcap://host:2002/eth0", "udp://eth0"}) {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        EXPECT_EQ(nullptr, flk::pcap_open(source, 65536, 1, 10, nullptr, errbuf)) << source;
        EXPECT_STRNE("", errbuf) << source;
    }
}

TEST(PcapFindAllDevsExTest, OnlyTheLocalDeviceSourceIsListed) {
    for (const char* source : {"file:///tmp", "rpcap://host/", "rpcap://eth0", ""}) {
        pcap_if_t* list = reinterpret_cast<pcap_if_t*>(&list);  // must be overwritten
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        EXPECT_EQ(-1, flk::pcap_findalldevs_ex(source, nullptr, &list, errbuf)) << source;
        EXPECT_EQ(nullptr, list) << source;
        EXPECT_STRNE("", errbuf) << source;
    }
}

}  // namespace
