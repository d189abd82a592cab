//! One C entry point over the WHATWG URL parser of the `url` crate.

use std::os::raw::{c_int, c_uchar};
use url::Url;

/// Offsets are into the caller's buffer, which receives scheme, user name,
/// serialized host and path back to back.
#[repr(C)]
pub struct TarnUrlParts {
    pub scheme_len: usize,
    pub username_len: usize,
    pub host_len: usize,
    pub path_len: usize,
    pub has_password: c_uchar,
    pub has_host: c_uchar,
    pub has_port: c_uchar,
    pub has_query: c_uchar,
    pub has_fragment: c_uchar,
    pub required: usize,
}

/// Returns 0 on success, 1 when the text is not an absolute URL (or not
/// UTF-8), 2 when `cap` is too small (`required` then holds the size).
///
/// # Safety
/// `input` must point to `len` readable bytes, `buf` to `cap` writable bytes
/// and `out` to a writable `TarnUrlParts`.
#[no_mangle]
pub unsafe extern "C" fn tarn_url_parse(
    input: *const u8,
    len: usize,
    buf: *mut u8,
    cap: usize,
    out: *mut TarnUrlParts,
) -> c_int {
    let bytes = if len == 0 { &[][..] } else { std::slice::from_raw_parts(input, len) };
    let text = match std::str::from_utf8(bytes) {
        Ok(text) => text,
        Err(_) => return 1,
    };
    let url = match Url::parse(text) {
        Ok(url) => url,
        Err(_) => return 1,
    };
    let host = url.host_str().unwrap_or("");
    let pieces = [url.scheme(), url.username(), host, url.path()];
    let required: usize = pieces.iter().map(|p| p.len()).sum();
    let parts = &mut *out;
    parts.scheme_len = pieces[0].len();
    parts.username_len = pieces[1].len();
    parts.host_len = pieces[2].len();
    parts.path_len = pieces[3].len();
    parts.has_password = url.password().is_some() as c_uchar;
    parts.has_host = url.host().is_some() as c_uchar;
    parts.has_port = url.port().is_some() as c_uchar;
    parts.has_query = url.query().is_some() as c_uchar;
    parts.has_fragment = url.fragment().is_some() as c_uchar;
    parts.required = required;
    if required > cap {
        return 2;
    }
    let mut at = 0;
    for piece in pieces.iter() {
        std::ptr::copy_nonoverlapping(piece.as_ptr(), buf.add(at), piece.len());
        at += piece.len();
    }
    0
}
