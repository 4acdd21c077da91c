// A launcher in Rust (x86_64-pc-windows-gnu) that links kes_selfupdate.dll.
// The version text comes from KES_EXAMPLE_VERSION_TEXT at build time. After
// the scan it joins the start program's identity and prunes old launchers;
// with KES_EXAMPLE_DOWNLOAD and KES_EXAMPLE_NAME set it lands that download.
use std::ffi::CString;
use std::os::raw::c_char;

#[link(name = "kes_selfupdate")]
extern "C" {
    fn kes_self_update_scan() -> i32;
    fn kes_land_update(downloaded_path: *const c_char, file_name: *const c_char, retry_ms: u32) -> i32;
    fn kes_prune_launchers(keep: u32) -> i32;
    fn kes_join_start_identity() -> i32;
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
    // Before any window: the taskbar groups it with the start program.
    let (joined, pruned) = unsafe { (kes_join_start_identity(), kes_prune_launchers(2)) };
    println!("  cycle: identity {}, pruned {}", joined, pruned);
    if let (Ok(download), Ok(name)) = (std::env::var("KES_EXAMPLE_DOWNLOAD"), std::env::var("KES_EXAMPLE_NAME")) {
        let (download, name) = (CString::new(download).unwrap(), CString::new(name).unwrap());
        let landed = unsafe { kes_land_update(download.as_ptr(), name.as_ptr(), 60000) };
        println!("  landed: {}", landed);
    }
}
