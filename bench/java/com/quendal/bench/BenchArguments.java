package com.quendal.bench;

import java.util.Arrays;
import java.util.List;

/**
 * The arguments every benchmark program takes: [--repetitions N] [--quick] [--only a,b]. A quick
 * run is a smoke run of every section with few calls, whose figures mean nothing; each program
 * says what it cuts.
 */
final class BenchArguments {
    int repetitions = 15;
    boolean quick;
    private List<String> sections;

    BenchArguments(String[] args, String... allSections) {
        sections = Arrays.asList(allSections);
        for (int i = 0; i < args.length; ++i) {
            switch (args[i]) {
                case "--repetitions":
                    repetitions = Integer.parseInt(args[++i]);
                    break;
                case "--quick":
                    quick = true;
                    repetitions = 3;
                    break;
                case "--only":
                    sections = Arrays.asList(args[++i].split(","));
                    break;
                default:
                    throw new IllegalArgumentException("unknown argument " + args[i]);
            }
        }
    }

    boolean wants(String section) {
        return sections.contains(section);
    }
}
