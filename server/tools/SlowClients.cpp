// Holds many slow connections open against a running orvela-server, each sending its headers
// a byte at a time and opened again whenever the server cuts it, and meanwhile times ordinary
// requests on fresh connections, spaced out so that they also meet the moments when the server
// cuts the slow ones. For scripts/measure-server.
//   orvela-server-slow --port P [--connections 2000] [--interval-ms 2000] [--requests 50]
//                      [--spacing-ms 200] [--pid SERVER-PID] [--header "Name: value"]... PATH...
#include <algorithm>
#include <atomic>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace asio = boost::asio;
using asio::ip::tcp;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto checked = asio::as_tuple(asio::use_awaitable);

struct Options {
    unsigned short port = 0;
    int connections = 2000;
    std::chrono::milliseconds interval{2000};
    int requests = 50;
    std::chrono::milliseconds spacing{200};
    int serverPid = 0;
    std::string headers;
    std::vector<std::string> paths;
};

// Shared by the two threads: the slow clients' and the timed requests'.
struct Tally {
    std::atomic<int> open = 0;
    std::atomic<long> reopened = 0;
    std::atomic<bool> stopping = false;
};

// One slow client: its socket, and the timer it waits on between bytes.
struct Slot {
    explicit Slot(asio::io_context &io) : socket(io), timer(io) {}
    tcp::socket socket;
    asio::steady_timer timer;
    bool closed = false;
};

asio::awaitable<void> watch(std::shared_ptr<Slot> slot)
{
    char sink[512];
    for (;;) {
        const auto [error, received] = co_await slot->socket.async_read_some(asio::buffer(sink), checked);
        if (error)
            break;
    }
    slot->closed = true;
    slot->timer.cancel();
}

asio::awaitable<void> trickle(asio::io_context &io, tcp::endpoint server, Options options, Tally &tally, unsigned seed)
{
    std::minstd_rand random(seed);
    const std::string opening = "GET /healthz HTTP/1.1\r\nHost: measure\r\nX-Slow: ";
    bool first = true;
    while (!tally.stopping) {
        auto slot = std::make_shared<Slot>(io);
        const auto [connectError] = co_await slot->socket.async_connect(server, checked);
        if (connectError) {
            slot->timer.expires_after(100ms);
            co_await slot->timer.async_wait(checked);
            continue;
        }
        const auto [openingError, written] = co_await asio::async_write(slot->socket, asio::buffer(opening), checked);
        if (openingError)
            continue;
        ++tally.open;
        if (!first)
            ++tally.reopened;
        first = false;
        asio::co_spawn(io, watch(slot), asio::detached);
        // The first byte at a random moment, so that the clients do not all write at once.
        auto wait = std::chrono::milliseconds(random() % options.interval.count());
        while (!slot->closed && !tally.stopping) {
            slot->timer.expires_after(wait);
            co_await slot->timer.async_wait(checked);
            if (slot->closed || tally.stopping)
                break;
            const auto [error, sent] = co_await asio::async_write(slot->socket, asio::buffer("a", 1), checked);
            if (error)
                break;
            wait = options.interval;
        }
        --tally.open;
        boost::system::error_code ignored;
        slot->socket.close(ignored);
    }
}

// One request on a fresh connection, timed from connecting to the server's close; -1 when it
// was not answered 200 within 10 s.
asio::awaitable<double> timedRequest(asio::io_context &io, tcp::endpoint server, std::string request)
{
    const auto started = Clock::now();
    boost::beast::tcp_stream stream(io);
    stream.expires_after(10s);
    const auto [connectError] = co_await stream.async_connect(server, checked);
    if (connectError)
        co_return -1;
    const auto [writeError, written] = co_await asio::async_write(stream, asio::buffer(request), checked);
    if (writeError)
        co_return -1;
    std::string answer;
    char chunk[16384];
    for (;;) {
        const auto [error, received] = co_await stream.async_read_some(asio::buffer(chunk), checked);
        answer.append(chunk, received);
        if (error)
            break;
    }
    if (answer.compare(0, 12, "HTTP/1.1 200") != 0 && answer.compare(0, 12, "HTTP/1.0 200") != 0)
        co_return -1;
    co_return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

std::string memoryOf(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line, figures;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0 || line.rfind("VmHWM:", 0) == 0) {
            std::string value = line.substr(6);
            value.erase(0, value.find_first_not_of(" \t"));
            figures += (figures.empty() ? "" : ", ") + line.substr(0, 5) + " " + value;
        }
    }
    return figures.empty() ? "unknown (no such process)" : figures;
}

asio::awaitable<void> measure(asio::io_context &io, tcp::endpoint server, Options options, Tally &tally)
{
    asio::steady_timer pause(io);
    const auto giveUp = Clock::now() + 60s;
    while (tally.open < options.connections && Clock::now() < giveUp) {
        pause.expires_after(100ms);
        co_await pause.async_wait(checked);
    }
    std::printf("  slow connections open: %d of %d\n", tally.open.load(), options.connections);
    // Every slow client has sent at least one byte after its headers began.
    pause.expires_after(options.interval);
    co_await pause.async_wait(checked);

    for (const std::string &path : options.paths) {
        const std::string request =
            "GET " + path + " HTTP/1.1\r\nHost: measure\r\nConnection: close\r\n" + options.headers + "\r\n";
        std::vector<double> answered;
        int failures = 0, inARow = 0;
        for (int i = 0; i < options.requests && inARow < 3; ++i) {
            pause.expires_after(options.spacing);
            co_await pause.async_wait(checked);
            const double took = co_await timedRequest(io, server, request);
            if (took < 0) {
                ++failures;
                ++inARow;
            } else {
                answered.push_back(took);
                inARow = 0;
            }
        }
        const std::string shown = path.substr(0, path.find('?'));
        if (answered.empty()) {
            std::printf("  GET %s: no answer within 10 s (%d tried, gave up after 3 in a row)\n", shown.c_str(),
                        failures);
            continue;
        }
        std::sort(answered.begin(), answered.end());
        const auto at = [&](double share) {
            return answered[std::min(answered.size() - 1, size_t(share * double(answered.size())))];
        };
        std::printf("  GET %s: p50 %.1f ms, p99 %.1f ms, max %.1f ms (%zu answered 200, %d not within 10 s)\n",
                    shown.c_str(), at(0.5), at(0.99), answered.back(), answered.size(), failures);
    }
    std::printf("  slow connections still open: %d; cut by the server and opened again: %ld\n", tally.open.load(),
                tally.reopened.load());
    if (options.serverPid > 0)
        std::printf("  server memory with them open: %s\n", memoryOf(options.serverPid).c_str());
    std::fflush(stdout);
    tally.stopping = true;
}

int run(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--port" && hasValue)
            options.port = static_cast<unsigned short>(std::stoi(argv[++i]));
        else if (argument == "--connections" && hasValue)
            options.connections = std::stoi(argv[++i]);
        else if (argument == "--interval-ms" && hasValue)
            options.interval = std::chrono::milliseconds(std::max(1, std::stoi(argv[++i])));
        else if (argument == "--requests" && hasValue)
            options.requests = std::stoi(argv[++i]);
        else if (argument == "--spacing-ms" && hasValue)
            options.spacing = std::chrono::milliseconds(std::max(0, std::stoi(argv[++i])));
        else if (argument == "--pid" && hasValue)
            options.serverPid = std::stoi(argv[++i]);
        else if (argument == "--header" && hasValue)
            options.headers += std::string(argv[++i]) + "\r\n";
        else
            options.paths.push_back(argument);
    }
    if (options.port == 0 || options.paths.empty()) {
        std::fputs("usage: orvela-server-slow --port P [--connections N] [--interval-ms MS] [--requests N]"
                   " [--spacing-ms MS] [--pid PID] [--header 'Name: value'] PATH...\n",
                   stderr);
        return 2;
    }
    // The timed requests have a thread of their own, so that the slow clients' bursts (all cut
    // and opened again at once) do not show in the figures as the server's delay.
    asio::io_context slowContext(1), timedContext(1);
    const tcp::endpoint server(asio::ip::make_address("127.0.0.1"), options.port);
    Tally tally;
    for (int i = 0; i < options.connections; ++i)
        asio::co_spawn(slowContext, trickle(slowContext, server, options, tally, unsigned(i + 1)), asio::detached);
    std::thread slow([&] { slowContext.run(); });
    asio::co_spawn(timedContext, measure(timedContext, server, options, tally), asio::detached);
    timedContext.run();
    slowContext.stop();
    slow.join();
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "orvela-server-slow: %s\n", error.what());
        return 2;
    }
}
