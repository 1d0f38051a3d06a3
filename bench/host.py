"""What the benchmarks say of the host they ran on."""


def processor():
    """The processor's model name, as the system reports it."""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown processor"
