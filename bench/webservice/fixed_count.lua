-- wrk stops after BENCH_REQUESTS answers (one thread), so that a trace covers a known count.
local limit = tonumber(os.getenv("BENCH_REQUESTS") or "100000")
local answers = 0

function response()
    answers = answers + 1
    if answers >= limit then
        wrk.thread:stop()
    end
end
