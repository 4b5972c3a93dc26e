# Download helper ticked with the console; nothing to fetch in this build.
module ORB
  class Runtime
    module DeveloperSupport
      def tick_download_stb_rb
        nil
      end
    end
  end
end
