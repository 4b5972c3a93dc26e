# ORB::Api: the development web API. Requests reach it through
# `args.inputs.http_requests`; routing arrives with the web server.
module ORB
  class Api
    def initialize(runtime)
      @runtime = runtime
    end

    def tick(_args)
      nil
    end
  end
end
