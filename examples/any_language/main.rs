// A launcher in Rust (x86_64-pc-windows-gnu) that links kes_selfupdate.dll.
// The version text comes from KES_EXAMPLE_VERSION_TEXT at build time.
#[link(name = "kes_selfupdate")]
extern "C" {
    fn kes_self_update_scan() -> i32;
}

fn main() {
    // The scan reads this process's own command line.
    if unsafe { kes_self_update_scan() } == 1 {
        return; // a newer launcher beside this one has taken over
    }
    let args: Vec<String> = std::env::args().collect();
    let version = option_env!("KES_EXAMPLE_VERSION_TEXT").unwrap_or("0.0.0.0");
    println!("Rust launcher {} running as {}", version, args[0]);
    for (i, arg) in args.iter().enumerate().skip(1) {
        println!("  argument {}: [{}]", i, arg);
    }
}
